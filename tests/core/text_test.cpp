// Texts: UTF-8/UTF-16, the XOR decoding, the scrambled store and its once-only cache, the console
// chunks and the console rule.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "scrambled/scrambled_text_store.hpp"
#include "support/console_chunks.hpp"
#include "support/console_encoding.hpp"
#include "support/utf.hpp"

namespace autodeploy {
namespace {

TEST(Utf, SurrogatePairsAndWhatIsNotText) {
    const std::string texts[] = {"", "访问官网获取最新版本：", "— …", "\xF0\x9F\x98\x80 emoji"};
    for (const std::string& text : texts) EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(text)), text);
    EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x98\x80"), (std::u16string{0xD83D, 0xDE00}));
    EXPECT_EQ(utf16_to_code_points(std::u16string{0xD83D, 0xDE00}), std::u32string{U'\U0001F600'});
    EXPECT_EQ(utf16_to_utf8(std::u16string{u'a', 0xD800}), std::nullopt);
    EXPECT_EQ(utf16_to_utf8(std::u16string{0xDC00, u'a'}), std::nullopt);
    for (const std::string text : {"\xFF", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE4\xB8"}) {
        EXPECT_EQ(utf8_to_code_points(text), std::nullopt) << text.size();
    }
}

// Worked out by hand: the low 8 bits of each stored character XOR those of the key character at
// the same position (the key repeating), written back as UTF-8.
TEST(XorTranscode, HandCheckedVectors) {
    const struct {
        const char* what;
        std::string stored;
        std::u32string key;
        std::string expected;
    } vectors[] = {
        {"key shorter than text repeats", "abcd", U"ab", std::string("\0\0\x02\x06", 4)},
        {"key longer than text is cut", "ab", U"abcdef", std::string("\0\0", 2)},
        {"result 0x80 takes two bytes", "a", U"\u00E1", "\xC2\x80"},
        {"result 0xFF takes two bytes", "\xC3\xBF", U"\u0100", "\xC3\xBF"},
        {"non-ASCII key character", "AB", U"\u00E9z", "\xC2\xA8\x38"},
        {"stored CJK character contributes 0xFB", "\xE7\xB3\xBB", U"x", "\xC2\x83"},
        {"stored emoji (four bytes) contributes 0x00", "\xF0\x9F\x98\x80", U"A", "A"},
        {"ill-formed byte reads as U+FFFD", "\xFF", U"A", "\xC2\xBC"},
        {"empty key gives empty text", "anything", U"", ""},
    };
    for (const auto& v : vectors) EXPECT_EQ(decode_with_key(v.stored, v.key), v.expected) << v.what;
    const std::string every_latin1 = "\x01 diskpart\r\n\xC2\x80\xC3\xA9\xC3\xBF";
    EXPECT_EQ(decode_with_key(decode_with_key(every_latin1, U"\u00FF\u0080x"), U"\u00FF\u0080x"), every_latin1);
}

// CRYPTIFY_KEY as this process sees it; nothing: unset.
void set_key(const char* value) { value ? setenv("CRYPTIFY_KEY", value, 1) : unsetenv("CRYPTIFY_KEY"); }

// The texts under the built-in key are the driver test's (tools, banner, scripts); here the key of
// the moment, and a cached entry decoded once: a later key changes nothing, not even its address.
TEST(ScrambledTextStore, TheKeyOfTheMomentAndCachedEntriesOnce) {
    const char* first = get(CachedEntry::BOOT_TOOL).data();
    set_key("");
    EXPECT_EQ(decode(stored_bytes(ScriptEntry::MBR_SCRIPT)), "");
    set_key("wrong key");
    EXPECT_EQ(decode(stored_bytes(CachedEntry::IMAGE_TOOL)),
              decode_with_key(stored_bytes(CachedEntry::IMAGE_TOOL), U"wrong key"));
    EXPECT_EQ(get(CachedEntry::BOOT_TOOL), "bcdboot");
    EXPECT_EQ(get(CachedEntry::BOOT_TOOL).data(), first);
    set_key("a\xED\xA0\x80\x62");  // an encoded lone surrogate is not text: the built-in key
    EXPECT_EQ(decode(stored_bytes(CachedEntry::BOOT_TOOL)), "bcdboot");
    set_key(nullptr);
}

TEST(Utf8Chunks, CutBackToCharacterStartsAtTheLimit) {
    const struct {
        const char* what;
        std::string text;
        std::vector<std::size_t> sizes;
    } cases[] = {
        {"fits exactly", std::string(4096, 'a'), {4096}},
        {"two-byte character straddles", std::string(4095, 'a') + "é" + "z", {4095, 3}},
        {"two-byte character ends at the limit", std::string(4094, 'a') + "é" + "z", {4096, 1}},
        {"four-byte character straddles", std::string(4093, 'a') + "\xF0\x9F\x98\x80", {4093, 4}},
        {"continuation bytes only are still cut", std::string(5000, '\x80'), {4096, 904}},
    };
    for (const auto& c : cases) {
        std::vector<std::size_t> sizes;
        std::string joined;
        for (const std::string_view chunk : utf8_chunks(c.text)) {
            sizes.push_back(chunk.size());
            joined.append(chunk);
        }
        EXPECT_EQ(sizes, c.sizes) << c.what;
        EXPECT_EQ(joined, c.text) << c.what;
    }
    EXPECT_EQ(utf8_chunks("ab", 0).size(), 2u);
}

// Chinese text reaches a console drawing in code page 437 or 936 only as UTF-16.
TEST(ConsoleEncoding, Utf16OnlyToAConsoleWhoseCodePageIsNotUtf8) {
    EXPECT_EQ(console_encoding(true, 437), ConsoleEncoding::Utf16);
    EXPECT_EQ(console_encoding(true, 936), ConsoleEncoding::Utf16);
    EXPECT_EQ(console_encoding(true, 65001), ConsoleEncoding::Utf8Bytes);
    EXPECT_EQ(console_encoding(false, 437), ConsoleEncoding::Utf8Bytes);  // a file or pipe
}

}  // namespace
}  // namespace autodeploy
