#include "support/once_text.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "configured_web_address.hpp"
#include "scrambled/scrambled_text_store.hpp"

namespace autodeploy {
namespace {

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

TEST(OnceText, ExactlyOneRacingCallerInitialisesAndAllSeeItsText) {
    for (int round = 0; round < 20; ++round) {
        OnceText cell;
        std::atomic<int> initialisations{0};
        std::vector<const char*> seen(kThreads);
        std::vector<std::string> texts(kThreads);
        race([&](int i) {
            const std::string_view text = cell.get_or_init([&] {
                initialisations.fetch_add(1);
                // Slow enough that the others arrive while it is still running.
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                return std::string("decoded once");
            });
            seen[i] = text.data();
            texts[i] = std::string(text);
        });
        ASSERT_EQ(initialisations.load(), 1);
        for (int i = 0; i < kThreads; ++i) {
            EXPECT_EQ(seen[i], seen[0]);
            EXPECT_EQ(texts[i], "decoded once");
        }
    }
}

TEST(OnceText, LaterCallsNeverRunTheInitialiserAgain) {
    OnceText cell;
    EXPECT_EQ(cell.get_or_init([] { return std::string("first"); }), "first");
    EXPECT_EQ(cell.get_or_init([] { return std::string("second"); }), "first");
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
