#include "main/console_chunks.hpp"

#include <gtest/gtest.h>

#include <string>

#include "main/error_report.hpp"

namespace autodeploy {
namespace {

std::string repeat(std::string_view piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text.append(piece);
    return text;
}

std::vector<std::size_t> sizes(const std::vector<std::string_view>& chunks) {
    std::vector<std::size_t> result;
    for (const std::string_view chunk : chunks) result.push_back(chunk.size());
    return result;
}

TEST(Utf8Chunks, CutsBackToCharacterStartsAtTheLimit) {
    const struct {
        const char* what;
        std::string text;
        std::vector<std::size_t> expected_sizes;
    } cases[] = {
        {"empty", "", {}},
        {"fits exactly", std::string(4096, 'a'), {4096}},
        {"one byte over", std::string(4097, 'a'), {4096, 1}},
        // 4095 ASCII bytes then a 2-byte character straddling the limit.
        {"two-byte character straddles", std::string(4095, 'a') + "é" + "z", {4095, 3}},
        {"two-byte character ends at the limit", std::string(4094, 'a') + "é" + "z", {4096, 1}},
        {"three-byte character straddles by one", std::string(4094, 'a') + "系", {4094, 3}},
        {"three-byte character straddles by two", std::string(4095, 'a') + "系", {4095, 3}},
        {"four-byte character straddles", std::string(4093, 'a') + "\xF0\x9F\x98\x80", {4093, 4}},
        {"only Chinese", repeat("系", 2000), {4095, 1905}},
        {"only emoji", repeat("\xF0\x9F\x98\x80", 1100), {4096, 304}},
        {"continuation bytes only are still cut", std::string(5000, '\x80'), {4096, 904}},
    };
    for (const auto& c : cases) {
        const std::vector<std::string_view> chunks = utf8_chunks(c.text);
        EXPECT_EQ(sizes(chunks), c.expected_sizes) << c.what;
        std::string joined;
        for (const std::string_view chunk : chunks) joined.append(chunk);
        EXPECT_EQ(joined, c.text) << c.what;
    }
}

TEST(Utf8Chunks, LimitOfZeroStillMovesOn) { EXPECT_EQ(sizes(utf8_chunks("ab", 0)), (std::vector<std::size_t>{1, 1})); }

TEST(ErrorReport, OneLineOrWithBacktrace) {
    const DeployError error = DeployError::tool(0x80004005, "diskpart failed: ExitStatus(ExitStatus(1))");
    EXPECT_EQ(error_report(error, {}), "Error: diskpart failed: ExitStatus(ExitStatus(1)) (0x80004005)\n");
    EXPECT_EQ(error_report(error, {"   0: autodeploy.exe+0x1a2b", "   1: KERNEL32.dll+0x10"}),
              "Error: diskpart failed: ExitStatus(ExitStatus(1)) (0x80004005)\n\nStack backtrace:\n"
              "   0: autodeploy.exe+0x1a2b\n   1: KERNEL32.dll+0x10\n");
}

}  // namespace
}  // namespace autodeploy
