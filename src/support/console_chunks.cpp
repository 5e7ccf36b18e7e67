#include "console_chunks.hpp"

namespace autodeploy {

namespace {
bool is_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0u) == 0x80u; }
}  // namespace

std::vector<std::string_view> utf8_chunks(std::string_view text, std::size_t limit) {
    if (limit == 0) limit = 1;  // a piece always moves the text on
    std::vector<std::string_view> chunks;
    while (!text.empty()) {
        std::size_t cut = text.size() <= limit ? text.size() : limit;
        if (cut < text.size()) {
            std::size_t boundary = cut;
            while (boundary > 0 && is_continuation(text[boundary])) --boundary;
            if (boundary > 0) cut = boundary;
        }
        chunks.push_back(text.substr(0, cut));
        text.remove_prefix(cut);
    }
    return chunks;
}

}  // namespace autodeploy
