#pragma once
// UTF-8 and UTF-16 conversions for the platform boundary. Texts inside the program are UTF-8.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace autodeploy {

struct Utf8Step {
    char32_t code_point;  // U+FFFD for a byte that does not start a well-formed sequence
    std::size_t length;   // bytes consumed, at least 1
};

// Reads the character that starts at `pos` (< bytes.size()). Ill-formed input never stops the
// walk: each offending byte becomes U+FFFD on its own.
constexpr Utf8Step next_utf8(std::string_view bytes, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1Fu;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0Fu;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07u;
        minimum = 0x10000;
    } else {
        return {U'\uFFFD', 1};
    }
    if (pos + length > bytes.size()) return {U'\uFFFD', 1};
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(pos + i);
        if ((next & 0xC0u) != 0x80u) return {U'\uFFFD', 1};
        value = (value << 6) | (next & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return {U'\uFFFD', 1};
    }
    return {value, length};
}

// Appends `code_point` (a valid scalar value) in UTF-8.
void append_utf8(std::string& out, char32_t code_point);

// Ill-formed UTF-8 becomes U+FFFD; our own texts are always well formed.
std::u16string utf8_to_utf16(std::string_view text);

// Nothing when the input holds a lone surrogate: such a text is not valid Unicode.
std::optional<std::string> utf16_to_utf8(std::u16string_view text);
std::optional<std::u32string> utf16_to_code_points(std::u16string_view text);
std::optional<std::u32string> utf8_to_code_points(std::string_view text);

}  // namespace autodeploy
