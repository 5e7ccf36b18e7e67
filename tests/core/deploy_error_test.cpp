#include "tools/deploy_error.hpp"

#include <gtest/gtest.h>

#include "support/backtrace.hpp"

namespace autodeploy {
namespace {

TEST(DeployErrorRender, FileAndToolErrors) {
    const struct {
        DeployError error;
        const char* expected;
    } cases[] = {
        {DeployError::file(5, "Access is denied."), "Access is denied. (os error 5)"},
        {DeployError::file(32, missing_message_text(32, 317)),
         "OS Error 32 (FormatMessageW() returned error 317) (os error 32)"},
        {DeployError::file(4294967295u, invalid_message_text(4294967295u)),
         "OS Error 4294967295 (FormatMessageW() returned invalid UTF-16) (os error 4294967295)"},
        {DeployError::file_text("failed to write whole buffer"), "failed to write whole buffer"},
        {DeployError::tool(0x80004005, "diskpart failed: ExitStatus(ExitStatus(1))"),
         "diskpart failed: ExitStatus(ExitStatus(1)) (0x80004005)"},
        {DeployError::tool(0x8000FFFF, "diskpart: program not found"), "diskpart: program not found (0x8000FFFF)"},
        {DeployError::tool(0x800700C1, ""), "0x800700C1"},
        {DeployError::tool(0x0000000A, "odd"), "odd (0x0000000A)"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.error.render(), c.expected);
}

TEST(ResultCodeFromSystemCode, LowSixteenBitsUnderWin32Facility) {
    EXPECT_EQ(result_code_from_system_code(193), 0x800700C1u);
    EXPECT_EQ(result_code_from_system_code(2), 0x80070002u);
    EXPECT_EQ(result_code_from_system_code(0x12345678), 0x80075678u);
    EXPECT_EQ(result_code_from_system_code(0), 0u);
    EXPECT_EQ(result_code_from_system_code(0x80004005), 0x80004005u);
}

TEST(TrimTrailingBlanks, RemovesSpacesTabsAndLineBreaksAtTheEndOnly) {
    EXPECT_EQ(trim_trailing_blanks("Access is denied.\r\n"), "Access is denied.");
    EXPECT_EQ(trim_trailing_blanks("  two words \t \r\n\n"), "  two words");
    EXPECT_EQ(trim_trailing_blanks(" \r\n"), "");
    EXPECT_EQ(trim_trailing_blanks(""), "");
}

TEST(BacktraceSwitch, ErrorOnlyVariableDecidesWhenSet) {
    using V = std::optional<std::string>;
    EXPECT_FALSE(backtrace_switch_on(std::nullopt, std::nullopt));
    EXPECT_TRUE(backtrace_switch_on(std::nullopt, V{"1"}));
    EXPECT_TRUE(backtrace_switch_on(std::nullopt, V{"full"}));
    EXPECT_FALSE(backtrace_switch_on(std::nullopt, V{"0"}));
    EXPECT_FALSE(backtrace_switch_on(V{"0"}, V{"1"}));
    EXPECT_TRUE(backtrace_switch_on(V{"1"}, V{"0"}));
}

}  // namespace
}  // namespace autodeploy
