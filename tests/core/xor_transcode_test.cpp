#include "scrambled/scrambled_text_store.hpp"

#include <gtest/gtest.h>

#include <string>

namespace autodeploy {
namespace {

struct DecodeVector {
    const char* what;
    std::string stored;
    std::u32string key;
    std::string expected;
};

// Worked out by hand from the rule: XOR the low 8 bits of each stored character with the key
// character at the same position (the key repeating), written back out as UTF-8.
const DecodeVector kVectors[] = {
    {"ASCII pair", "A", U"K", "\x0A"},
    {"key shorter than text repeats", "abcd", U"ab", std::string("\0\0\x02\x06", 4)},
    {"key longer than text is cut", "ab", U"abcdef", std::string("\0\0", 2)},
    {"result 0x80 takes two bytes", "a", U"\u00E1", "\xC2\x80"},
    {"result 0xFF takes two bytes", "\xC3\xBF", U"\u0100", "\xC3\xBF"},
    {"result 0x7F stays one byte", "\x7F", U"\u0100", "\x7F"},
    {"non-ASCII key character", "AB", U"\u00E9z", "\xC2\xA8\x38"},
    {"key character above U+00FF counts its low 8 bits", "A", U"\u0101", "@"},
    {"stored U+0100 contributes 0x00", "\xC4\x80", U"A", "A"},
    {"stored CJK character contributes 0xFB", "\xE7\xB3\xBB", U"x", "\xC2\x83"},
    {"stored emoji (four bytes) contributes 0x00", "\xF0\x9F\x98\x80", U"A", "A"},
    {"ill-formed byte reads as U+FFFD", "\xFF", U"A", "\xC2\xBC"},
    {"each character pairs with one key character", "éaé", U"\x01\x02\x03", "ècê"},
    {"empty key gives empty text", "anything", U"", ""},
    {"empty text gives empty text", "", U"key", ""},
};

TEST(XorTranscode, HandCheckedVectors) {
    for (const DecodeVector& vector : kVectors) {
        EXPECT_EQ(decode_with_key(vector.stored, vector.key), vector.expected) << vector.what;
    }
}

TEST(XorTranscode, DecodingTwiceRestoresTextsBelowU0100) {
    const std::u32string keys[] = {U"R8t!vQ3#mZ6p", U"\u00FF\u0080x", U"k", U"\u4E2D\u6587"};
    std::string every_latin1;
    for (char32_t c = 0; c < 0x100; ++c) {
        if (c < 0x80) {
            every_latin1.push_back(static_cast<char>(c));
        } else {
            every_latin1.push_back(static_cast<char>(0xC0 | (c >> 6)));
            every_latin1.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    const std::string texts[] = {"diskpart", "select disk 0\r\nclean\r\n", every_latin1, "caf\xC3\xA9"};
    for (const auto& key : keys) {
        for (const auto& text : texts) {
            EXPECT_EQ(decode_with_key(decode_with_key(text, key), key), text);
        }
    }
}

}  // namespace
}  // namespace autodeploy
