#pragma once
// Scrambles plain texts while the program is compiled, so only their scrambled bytes reach the
// image. A plain text is given as a captureless lambda returning it; it is only ever evaluated
// in constant expressions.
#include <array>
#include <cstddef>
#include <string_view>

#include "builtin_key.hpp"
#include "xor_transcode.hpp"

namespace autodeploy {

template <std::size_t N>
struct StoredText {
    std::array<char, N> bytes;
    constexpr std::string_view view() const { return {bytes.data(), N}; }
};

namespace scramble_detail {

// Deliberately not constexpr: reaching it while scrambling fails the build. A character above
// U+00FF cannot survive the 8-bit XOR, and ill-formed UTF-8 has no characters to scramble.
void plain_text_must_be_utf8_below_u0100();

consteval std::size_t scrambled_size(std::string_view plain) {
    for (std::size_t pos = 0; pos < plain.size();) {
        const Utf8Step step = next_utf8(plain, pos);
        if (step.code_point > 0xFF) plain_text_must_be_utf8_below_u0100();
        pos += step.length;
    }
    constexpr auto key = builtin_key_at_build();
    std::size_t size = 0;
    xor_transcode(plain, {key.data(), key.size()}, [&](char) { ++size; });
    return size;
}

}  // namespace scramble_detail

template <class PlainText>
consteval auto scramble_at_build(PlainText) {
    constexpr std::string_view plain = PlainText{}();
    constexpr auto key = builtin_key_at_build();
    StoredText<scramble_detail::scrambled_size(plain)> stored{};
    std::size_t next = 0;
    xor_transcode(plain, {key.data(), key.size()}, [&](char byte) { stored.bytes[next++] = byte; });
    return stored;
}

}  // namespace autodeploy
