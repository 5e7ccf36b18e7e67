// utf8_chunks on any bytes: the pieces put back together are the text; none is empty or longer than
// the limit; a cut falls on a character start (a byte that is not 10xxxxxx) unless no byte after
// the first of a full-limit piece, nor the byte after it, starts a character; and a piece is cut
// back no further than the last character start within the limit.
//
// Input: the last byte picks a small limit (1 to 64) so that cuts are frequent; the rest is the
// text, chunked once with that limit and once with the console's 4096 bytes after being repeated
// past 8 KiB, so that the console limit falls at every offset of the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "main/console_chunks.hpp"

namespace {

using autodeploy::fuzz::escaped;
using autodeploy::fuzz::property_failed;

bool is_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0u) == 0x80u; }

std::string shown_sizes(const std::vector<std::string_view>& chunks) {
    std::string sizes;
    for (const std::string_view chunk : chunks) sizes += std::to_string(chunk.size()) + " ";
    return sizes;
}

void check_chunks(std::string_view text, std::size_t requested_limit) {
    const std::vector<std::string_view> chunks = autodeploy::utf8_chunks(text, requested_limit);
    const std::size_t limit = requested_limit == 0 ? 1 : requested_limit;  // a limit of 0 works as 1
    const auto fail = [&](const char* property, std::size_t at) {
        property_failed(property,
                        {{"limit", std::to_string(limit)},
                         {"text", text.size() <= 256 ? escaped(text) : std::to_string(text.size()) + " bytes"},
                         {"chunk sizes", shown_sizes(chunks)},
                         {"at offset", std::to_string(at)}});
    };

    std::size_t offset = 0;
    for (const std::string_view chunk : chunks) {
        if (chunk.empty()) fail("no piece is empty", offset);
        if (chunk.size() > limit) fail("no piece is longer than the limit", offset);
        // The pieces are views into the text, in order and back to back.
        if (offset + chunk.size() > text.size() || chunk.data() != text.data() + offset) {
            fail("the pieces are the text, in order", offset);
        }
        offset += chunk.size();
        const std::size_t cut = offset;
        if (cut == text.size()) continue;  // the last piece; any after it fails above
        const std::size_t start = cut - chunk.size();

        if (is_continuation(text[cut])) {
            // Allowed only when no character starts anywhere in reach of the limit.
            bool any_start = chunk.size() != limit;
            for (std::size_t i = start + 1; !any_start && i <= cut; ++i) {
                any_start = !is_continuation(text[i]);
            }
            if (any_start) fail("a cut falls on a character start", cut);
        }
        // A piece that could hold the rest of the text takes it; others are cut back only as far as
        // the last character start within the limit.
        if (text.size() - start <= limit) fail("a piece takes the rest of the text when it fits", cut);
        for (std::size_t i = cut + 1; i <= start + limit; ++i) {
            if (!is_continuation(text[i])) fail("a piece ends at the last character start within the limit", cut);
        }
    }
    if (offset != text.size()) fail("the pieces put together are the whole text", offset);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::size_t small_limit = input.ConsumeIntegralInRange<std::size_t>(0, 64);
    const std::string text = input.ConsumeRemainingBytesAsString();

    check_chunks(text, small_limit);

    std::string long_text;
    if (!text.empty()) {
        while (long_text.size() <= 2 * autodeploy::kConsoleChunkBytes) long_text += text;
    }
    check_chunks(long_text, autodeploy::kConsoleChunkBytes);
    return 0;
}
