#include "scrambled/scrambled_text_store.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "configured_web_address.hpp"
#include "partition_scripts.hpp"
#include "scrambled/builtin_key.hpp"

namespace autodeploy {
namespace {

// CRYPTIFY_KEY as this process sees it; the Windows build reads it with
// GetEnvironmentVariableW, which SetEnvironmentVariableW changes.
#ifdef _WIN32
extern "C" __declspec(dllimport) int __stdcall SetEnvironmentVariableW(const wchar_t*, const wchar_t*);
void set_key(const wchar_t* value) { SetEnvironmentVariableW(L"CRYPTIFY_KEY", value); }
void unset_key() { SetEnvironmentVariableW(L"CRYPTIFY_KEY", nullptr); }
#else
void set_key(const wchar_t* value) {
    std::string narrow;
    for (const wchar_t* c = value; *c != 0; ++c) narrow.push_back(static_cast<char>(*c));
    setenv("CRYPTIFY_KEY", narrow.c_str(), 1);
}
void unset_key() { unsetenv("CRYPTIFY_KEY"); }
#endif

class ScrambledTextStore : public ::testing::Test {
protected:
    void TearDown() override { unset_key(); }
};

const std::string kMbrScript{generated::kMbrScript, sizeof generated::kMbrScript - 1};
const std::string kGptScript{generated::kGptScript, sizeof generated::kGptScript - 1};

TEST_F(ScrambledTextStore, EveryEntryDecodesWithTheBuiltInKey) {
    unset_key();
    EXPECT_EQ(decode(stored_bytes(CachedEntry::WEB_ADDRESS)), configured::kWebAddress);
    EXPECT_EQ(decode(stored_bytes(CachedEntry::PARTITION_TOOL)), "diskpart");
    EXPECT_EQ(decode(stored_bytes(CachedEntry::IMAGE_TOOL)), "dism");
    EXPECT_EQ(decode(stored_bytes(CachedEntry::BOOT_TOOL)), "bcdboot");
    EXPECT_EQ(decode(stored_bytes(CachedEntry::PE_UTILITY)), "wpeutil");
    EXPECT_EQ(decode(stored_bytes(ScriptEntry::MBR_SCRIPT)), kMbrScript);
    EXPECT_EQ(decode(stored_bytes(ScriptEntry::GPT_SCRIPT)), kGptScript);
}

TEST_F(ScrambledTextStore, StoredBytesAreNotThePlainText) {
    EXPECT_NE(stored_bytes(CachedEntry::PARTITION_TOOL), "diskpart");
    EXPECT_NE(stored_bytes(ScriptEntry::GPT_SCRIPT), kGptScript);
    EXPECT_EQ(stored_bytes(CachedEntry::PARTITION_TOOL).size(), 8u);
}

TEST_F(ScrambledTextStore, BuiltInKeyIsTwelvePrintableAsciiCharacters) {
    const std::u32string key = builtin_key();
    ASSERT_EQ(key.size(), 12u);
    for (const char32_t c : key) EXPECT_TRUE(c >= 0x21 && c <= 0x7E) << static_cast<unsigned>(c);
    const auto at_build = builtin_key_at_build();
    EXPECT_EQ(key, std::u32string(at_build.begin(), at_build.end()));
}

TEST_F(ScrambledTextStore, KeyFromTheEnvironmentIsReadAtEachDecode) {
    const std::string_view stored = stored_bytes(CachedEntry::IMAGE_TOOL);
    set_key(L"");
    EXPECT_EQ(decode(stored), "");
    EXPECT_EQ(decode(stored_bytes(ScriptEntry::MBR_SCRIPT)), "");
    set_key(L"wrong key");
    const std::string with_wrong_key = decode(stored);
    EXPECT_EQ(with_wrong_key, decode_with_key(stored, U"wrong key"));
    EXPECT_NE(with_wrong_key, "dism");
    unset_key();
    EXPECT_EQ(decode(stored), "dism");
}

#ifdef _WIN32
TEST_F(ScrambledTextStore, LoneSurrogateKeyFallsBackToTheBuiltInKey) {
    const wchar_t lone_surrogate[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    set_key(lone_surrogate);
    EXPECT_EQ(decode(stored_bytes(CachedEntry::BOOT_TOOL)), "bcdboot");
}
#else
TEST_F(ScrambledTextStore, IllFormedUtf8KeyFallsBackToTheBuiltInKey) {
    setenv("CRYPTIFY_KEY", "a\xED\xA0\x80\x62", 1);  // "a", an encoded lone surrogate, "b"
    EXPECT_EQ(decode(stored_bytes(CachedEntry::BOOT_TOOL)), "bcdboot");
}
#endif

constexpr int kThreads = 32;

// Starts `kThreads` threads that wait at a gate and then all call `body` at once.
template <class Body>
void race(Body body) {
    std::atomic<int> waiting{kThreads};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            waiting.fetch_sub(1);
            while (waiting.load() > 0) std::this_thread::yield();
            body(i);
        });
    }
    for (std::thread& thread : threads) thread.join();
}

TEST(ScrambledTextStoreGet, RacingThreadsShareOneDecodedText) {
    std::vector<const char*> seen(kThreads);
    race([&](int i) { seen[i] = get(CachedEntry::BOOT_TOOL).data(); });
    for (const char* text : seen) EXPECT_EQ(text, seen[0]);
    EXPECT_EQ(get(CachedEntry::BOOT_TOOL), "bcdboot");
    EXPECT_EQ(get(CachedEntry::PE_UTILITY), "wpeutil");
    EXPECT_EQ(get(CachedEntry::WEB_ADDRESS), configured::kWebAddress);
}

}  // namespace
}  // namespace autodeploy
