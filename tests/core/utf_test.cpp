#include "support/utf.hpp"

#include <gtest/gtest.h>

namespace autodeploy {
namespace {

TEST(Utf, RoundTripsThroughUtf16) {
    const std::string texts[] = {"", "plain", "访问官网获取最新版本：", "— …", "\xF0\x9F\x98\x80 emoji"};
    for (const std::string& text : texts) EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(text)), text);
    EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x98\x80"), (std::u16string{0xD83D, 0xDE00}));
}

TEST(Utf, LoneSurrogatesAreNotText) {
    EXPECT_EQ(utf16_to_utf8(std::u16string{u'a', 0xD800}), std::nullopt);
    EXPECT_EQ(utf16_to_utf8(std::u16string{0xDC00, u'a'}), std::nullopt);
    EXPECT_EQ(utf16_to_code_points(std::u16string{0xD83D, 0xDE00}), std::u32string{U'\U0001F600'});
}

TEST(Utf, IllFormedUtf8) {
    const std::string ill_formed[] = {"\xFF",         "\xC0\x80",         "\xE0\x80\x80",
                                      "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE4\xB8"};
    for (const std::string& text : ill_formed) {
        EXPECT_EQ(utf8_to_code_points(text), std::nullopt) << text.size();
        EXPECT_EQ(next_utf8(text, 0).code_point, U'\uFFFD');
        EXPECT_EQ(next_utf8(text, 0).length, 1u);
    }
    EXPECT_EQ(utf8_to_code_points("\xEF\xBF\xBD"), std::u32string{U'\uFFFD'});
}

}  // namespace
}  // namespace autodeploy
