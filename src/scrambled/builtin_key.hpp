#pragma once
// The built-in decoding key. Its plain form exists only during compilation: the image holds it
// masked, and builtin_key() unmasks it at run time through a value the compiler cannot fold.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace autodeploy {

inline constexpr std::size_t kBuiltinKeyLength = 12;

namespace key_detail {

inline constexpr unsigned kMaskBase = 0xA7;
inline constexpr unsigned kMaskStep = 0x3B;

constexpr unsigned char mask_at(unsigned base, std::size_t index) {
    return static_cast<unsigned char>((base + index * kMaskStep) & 0xFFu);
}

consteval std::array<unsigned char, kBuiltinKeyLength> mask(std::string_view plain) {
    std::array<unsigned char, kBuiltinKeyLength> masked{};
    for (std::size_t i = 0; i < kBuiltinKeyLength; ++i) {
        masked[i] = static_cast<unsigned char>(plain[i]) ^ mask_at(kMaskBase, i);
    }
    return masked;
}

inline constexpr std::array<unsigned char, kBuiltinKeyLength> kMaskedKey = mask("R8t!vQ3#mZ6p");

constexpr std::array<char32_t, kBuiltinKeyLength> unmask(unsigned base) {
    std::array<char32_t, kBuiltinKeyLength> key{};
    for (std::size_t i = 0; i < kBuiltinKeyLength; ++i) key[i] = kMaskedKey[i] ^ mask_at(base, i);
    return key;
}

}  // namespace key_detail

// For scrambling texts while the program is compiled.
consteval std::array<char32_t, kBuiltinKeyLength> builtin_key_at_build() {
    return key_detail::unmask(key_detail::kMaskBase);
}

std::u32string builtin_key();

}  // namespace autodeploy
