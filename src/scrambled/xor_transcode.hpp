#pragma once
// The one scrambling routine: a repeating-key XOR over characters. It turns a stored text back
// into plain text and, run with the same key, plain text (characters below U+0100) into storage.
#include <cstddef>
#include <string_view>

#include "support/utf.hpp"

namespace autodeploy {

// Walks `text` character by character (UTF-8), pairs the i-th character with key[i % key.size()],
// XORs the low 8 bits of both and hands the resulting character to `put_byte` in UTF-8: one byte
// below 0x80, two bytes for 0x80..0xFF. An empty key produces nothing.
template <class PutByte>
constexpr void xor_transcode(std::string_view text, std::u32string_view key, PutByte&& put_byte) {
    if (key.empty()) return;
    std::size_t index = 0;
    for (std::size_t pos = 0; pos < text.size(); ++index) {
        const Utf8Step step = next_utf8(text, pos);
        pos += step.length;
        const unsigned value = (step.code_point & 0xFFu) ^ (key[index % key.size()] & 0xFFu);
        if (value < 0x80) {
            put_byte(static_cast<char>(value));
        } else {
            put_byte(static_cast<char>(0xC0u | (value >> 6)));
            put_byte(static_cast<char>(0x80u | (value & 0x3Fu)));
        }
    }
}

}  // namespace autodeploy
