#pragma once
// Hexadecimal digits without the C runtime's printf machinery (which would add its whole
// formatter to a statically linked program).
#include <cstdint>
#include <string>

namespace autodeploy {

// At least `min_digits` digits, zero-padded, lower or upper case; no "0x".
inline std::string hex_digits(std::uint64_t value, int min_digits, bool upper_case) {
    const char* digits = upper_case ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(text.size()) < min_digits) {
        text.insert(0, static_cast<std::size_t>(min_digits) - text.size(), '0');
    }
    return text;
}

}  // namespace autodeploy
