#include "utf.hpp"

namespace autodeploy {

void append_utf8(std::string& out, char32_t code_point) {
    const auto put = [&](char32_t value) { out.push_back(static_cast<char>(value)); };
    if (code_point < 0x80) {
        put(code_point);
    } else if (code_point < 0x800) {
        put(0xC0 | (code_point >> 6));
        put(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        put(0xE0 | (code_point >> 12));
        put(0x80 | ((code_point >> 6) & 0x3F));
        put(0x80 | (code_point & 0x3F));
    } else {
        put(0xF0 | (code_point >> 18));
        put(0x80 | ((code_point >> 12) & 0x3F));
        put(0x80 | ((code_point >> 6) & 0x3F));
        put(0x80 | (code_point & 0x3F));
    }
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const Utf8Step step = next_utf8(text, pos);
        pos += step.length;
        if (step.code_point < 0x10000) {
            out.push_back(static_cast<char16_t>(step.code_point));
        } else {
            const char32_t offset = step.code_point - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
        }
    }
    return out;
}

std::optional<std::u32string> utf16_to_code_points(std::u16string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit < 0xD800 || unit > 0xDFFF) {
            out.push_back(unit);
        } else if (unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            out.push_back(0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                          (static_cast<char32_t>(text[i + 1]) - 0xDC00));
            ++i;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

std::optional<std::string> utf16_to_utf8(std::u16string_view text) {
    const std::optional<std::u32string> code_points = utf16_to_code_points(text);
    if (!code_points) return std::nullopt;
    std::string out;
    out.reserve(text.size());
    for (const char32_t code_point : *code_points) append_utf8(out, code_point);
    return out;
}

std::optional<std::u32string> utf8_to_code_points(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const Utf8Step step = next_utf8(text, pos);
        // A genuine U+FFFD is three bytes long; a one-byte U+FFFD marks ill-formed input.
        if (step.code_point == U'\uFFFD' && step.length == 1) return std::nullopt;
        out.push_back(step.code_point);
        pos += step.length;
    }
    return out;
}

}  // namespace autodeploy
