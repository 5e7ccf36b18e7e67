// decode_with_key on any bytes with any key: it never fails, its output is always well-formed UTF-8
// made of characters below U+0100 (one or two bytes each), each output character is the low 8 bits
// of the matching input character XOR those of the key character at the same position, an empty key
// gives nothing, and decoding twice with the same (non-empty) key restores a text whose characters
// are all below U+0100.
//
// Input: the text is the front of the input; the key is taken from its tail (libFuzzer's
// FuzzedDataProvider): a key kind, a length of 0 to 24 characters, then the characters as any
// 32-bit values (surrogates and values past U+10FFFF included), as bytes, or the built-in key.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "scrambled/builtin_key.hpp"
#include "scrambled/scrambled_text_store.hpp"

namespace {

using autodeploy::fuzz::escaped;
using autodeploy::fuzz::property_failed;

// Reads UTF-8 as the decoder is meant to: each well-formed sequence (Unicode's table of
// well-formed byte sequences) is one character; any other byte is one U+FFFD on its own.
std::vector<char32_t> reference_characters(std::string_view text) {
    const auto at = [&](std::size_t i) -> unsigned {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0x100;
    };
    const auto in = [](unsigned byte, unsigned low, unsigned high) { return byte >= low && byte <= high; };
    std::vector<char32_t> characters;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned b0 = at(i);
        const unsigned b1 = at(i + 1);
        const unsigned b2 = at(i + 2);
        const unsigned b3 = at(i + 3);
        std::size_t length = 0;
        if (b0 <= 0x7F) {
            length = 1;
        } else if (in(b0, 0xC2, 0xDF) && in(b1, 0x80, 0xBF)) {
            length = 2;
        } else if ((b0 == 0xE0 && in(b1, 0xA0, 0xBF)) || (in(b0, 0xE1, 0xEC) && in(b1, 0x80, 0xBF)) ||
                   (b0 == 0xED && in(b1, 0x80, 0x9F)) || (in(b0, 0xEE, 0xEF) && in(b1, 0x80, 0xBF))) {
            length = in(b2, 0x80, 0xBF) ? 3 : 0;
        } else if ((b0 == 0xF0 && in(b1, 0x90, 0xBF)) || (in(b0, 0xF1, 0xF3) && in(b1, 0x80, 0xBF)) ||
                   (b0 == 0xF4 && in(b1, 0x80, 0x8F))) {
            length = in(b2, 0x80, 0xBF) && in(b3, 0x80, 0xBF) ? 4 : 0;
        }
        char32_t value = 0xFFFD;
        switch (length) {
        case 1: value = b0; break;
        case 2: value = ((b0 & 0x1F) << 6) | (b1 & 0x3F); break;
        case 3: value = ((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F); break;
        case 4: value = ((b0 & 0x07) << 18) | ((b1 & 0x3F) << 12) | ((b2 & 0x3F) << 6) | (b3 & 0x3F); break;
        default: length = 1; break;
        }
        characters.push_back(value);
        i += length;
    }
    return characters;
}

// The characters of a decoder output, or a failure when it is not made only of one-byte characters
// and two-byte characters from U+0080 to U+00FF.
std::vector<char32_t> output_characters(std::string_view output, std::string_view text, std::u32string_view key) {
    std::vector<char32_t> characters;
    for (std::size_t i = 0; i < output.size();) {
        const auto lead = static_cast<unsigned char>(output[i]);
        if (lead < 0x80) {
            characters.push_back(lead);
            ++i;
            continue;
        }
        const bool two_byte_latin1 = (lead == 0xC2 || lead == 0xC3) && i + 1 < output.size() &&
                                     (static_cast<unsigned char>(output[i + 1]) & 0xC0) == 0x80;
        if (!two_byte_latin1) {
            property_failed("the output is UTF-8 of characters below U+0100",
                            {{"text", escaped(text)},
                             {"key length", std::to_string(key.size())},
                             {"output", escaped(output)},
                             {"bad byte at", std::to_string(i)}});
        }
        characters.push_back(((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(output[i + 1]) & 0x3Fu));
        i += 2;
    }
    return characters;
}

std::string latin1_to_utf8(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text.push_back(c);
        } else {
            text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return text;
}

std::u32string take_key(FuzzedDataProvider& input) {
    const auto kind = input.ConsumeIntegralInRange<unsigned>(0, 3);
    if (kind == 3) return autodeploy::builtin_key();
    const auto length = input.ConsumeIntegralInRange<std::size_t>(0, 24);
    std::u32string key;
    for (std::size_t i = 0; i < length; ++i) {
        switch (kind) {
        case 0: key.push_back(input.ConsumeIntegral<std::uint32_t>()); break;
        case 1: key.push_back(input.ConsumeIntegral<std::uint8_t>()); break;
        default: key.push_back(input.ConsumeIntegralInRange<std::uint32_t>(0, 0x10FFFF)); break;
        }
    }
    return key;
}

std::string key_text(std::u32string_view key) {
    std::string shown;
    for (const char32_t c : key) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%s%X", shown.empty() ? "" : " ", static_cast<unsigned>(c));
        shown += hex;
    }
    return shown;
}

void check_empty_key(const std::string& text, const std::string& output) {
    if (output.empty()) return;
    property_failed("an empty key gives an empty text", {{"text", escaped(text)}, {"output", escaped(output)}});
}

void check_characters(const std::string& text, std::u32string_view key, const std::string& output) {
    const std::vector<char32_t> got = output_characters(output, text, key);
    const std::vector<char32_t> stored = reference_characters(text);
    bool same = got.size() == stored.size();
    for (std::size_t i = 0; same && i < got.size(); ++i) {
        same = got[i] == ((stored[i] & 0xFFu) ^ (key[i % key.size()] & 0xFFu));
    }
    if (same) return;
    property_failed("each output character is the stored character XOR the key character (low 8 bits)",
                    {{"text", escaped(text)},
                     {"key (hex)", key_text(key)},
                     {"output", escaped(output)},
                     {"characters in", std::to_string(stored.size())},
                     {"characters out", std::to_string(got.size())}});
}

bool below_u0100(const std::string& text) {
    // Ill-formed bytes read as U+FFFD, so a text holding any is not below U+0100.
    for (const char32_t c : reference_characters(text)) {
        if (c >= 0x100) return false;
    }
    return true;
}

void check_decoding_twice_restores(const std::string& text, std::u32string_view key) {
    const std::string once = autodeploy::decode_with_key(text, key);
    const std::string twice = autodeploy::decode_with_key(once, key);
    if (twice == text) return;
    property_failed(
        "decoding twice restores a text below U+0100",
        {{"text", escaped(text)}, {"key (hex)", key_text(key)}, {"once", escaped(once)}, {"twice", escaped(twice)}});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::u32string key = take_key(input);
    const std::string text = input.ConsumeRemainingBytesAsString();

    const std::string output = autodeploy::decode_with_key(text, key);
    if (key.empty()) {
        check_empty_key(text, output);
        return 0;
    }
    check_characters(text, key, output);
    if (below_u0100(text)) check_decoding_twice_restores(text, key);
    // The same with a text that is always below U+0100: the input bytes read as Latin-1.
    check_decoding_twice_restores(latin1_to_utf8(text), key);
    return 0;
}
