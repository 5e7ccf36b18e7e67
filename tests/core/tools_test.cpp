// Running tools, without a system: command lines, the program search, errors and their report.
#include <gtest/gtest.h>

#include <set>

#include "main/error_report.hpp"
#include "tools/command_line.hpp"
#include "tools/deploy_error.hpp"
#include "tools/program_search.hpp"

namespace autodeploy {
namespace {

// Microsoft's rules for reading a command line, one row each (the round trip under Wine covers the
// rest): 2n backslashes and a quote read as n and the quote's meaning, 2n+1 as n and a literal
// quote, backslashes before anything else as they are; "" is an empty argument.
TEST(BuildCommandLine, FollowsTheRulesTheCRuntimeReadsBy) {
    const struct {
        std::string argument, expected;
    } cases[] = {
        {"", R"("prog" "")"},
        {R"(a\"b)", R"("prog" a\\\"b)"},
        {R"(C:\dir\)", R"("prog" C:\dir\)"},
        {R"(C:\my dir\\)", R"("prog" "C:\my dir\\\\")"},
    };
    for (const auto& c : cases) EXPECT_EQ(build_command_line("prog", {c.argument}), c.expected);
    EXPECT_EQ(build_command_line(R"(C:\Temp Dir\udp-receiver.exe)", {}), R"("C:\Temp Dir\udp-receiver.exe")");
}

TEST(FindProgram, SearchOrderAndExtensions) {
    const ProgramSearchPlaces places{R"(X:\own)", R"(X:\sys)", R"(X:\win)", R"(X:\path one;;"X:\quoted;dir";X:\last\)"};
    const struct {
        const char* what;
        std::string program;
        std::set<std::string> existing;
        std::optional<std::string> expected;
    } cases[] = {
        {"own directory first", "dism", {R"(X:\own\dism.exe)", R"(X:\sys\dism.exe)"}, R"(X:\own\dism.exe)"},
        {"system before Windows", "dism", {R"(X:\sys\dism.exe)", R"(X:\win\dism.exe)"}, R"(X:\sys\dism.exe)"},
        {"Windows before PATH", "dism", {R"(X:\win\dism.exe)", R"(X:\path one\dism.exe)"}, R"(X:\win\dism.exe)"},
        {"quoted PATH entry keeps its semicolon", "tool", {R"(X:\quoted;dir\tool.exe)"}, R"(X:\quoted;dir\tool.exe)"},
        {"no separator added after one", "tool", {R"(X:\last\tool.exe)"}, R"(X:\last\tool.exe)"},
        {"a dotted name gets no .exe", "a.cmd", {R"(X:\own\a.cmd)", R"(X:\own\a.cmd.exe)"}, R"(X:\own\a.cmd)"},
        {"never the current directory", "local", {R"(.\local.exe)", "local.exe"}, std::nullopt},
        {"a path ending in .EXE is used unchanged", R"(C:\Temp\TOOL.EXE)", {}, R"(C:\Temp\TOOL.EXE)"},
        {"a path gains .exe when that file exists", R"(C:\Temp\tool)", {R"(C:\Temp\tool.exe)"}, R"(C:\Temp\tool.exe)"},
        {"a path stays when it does not", "C:/Temp/tool", {}, "C:/Temp/tool"},
        {"a name ending in a separator", "tools\\", {}, std::nullopt},
    };
    for (const auto& c : cases) {
        const FileExists exists = [&](const std::string& path) { return c.existing.count(path) > 0; };
        EXPECT_EQ(find_program(c.program, places, exists), c.expected) << c.what;
    }
    EXPECT_EQ(program_name_problem(std::string("a\0b", 3)), "program name contains a NUL character");
}

TEST(DeployError, RenderingsAndTheReport) {
    const DescribeFailure no_description = [](std::uint32_t, std::string_view) { return std::nullopt; };
    const DescribeFailure described = [](std::uint32_t code, std::string_view text) {
        return std::optional<std::string>{format_result_code(code) + " says: " + std::string{text} + " \r\n"};
    };
    const struct {
        DeployError error;
        const char* expected;
    } cases[] = {
        {DeployError::file(5, "Access is denied."), "Access is denied. (os error 5)"},
        {DeployError::file(32, missing_message_text(32, 317)),
         "OS Error 32 (FormatMessageW() returned error 317) (os error 32)"},
        {DeployError::file_text("failed to write whole buffer"), "failed to write whole buffer"},
        {tool_not_found_error("diskpart"), "diskpart: program not found (0x8000FFFF)"},
        {tool_start_error("", kToolNotStarted, "program name is empty"), "program name is empty (0x8000FFFF)"},
        {tool_start_error("dism", result_code_from_system_code(193), "Bad EXE format."),
         "dism: Bad EXE format. (0x800700C1)"},
        {tool_exit_error("wpeutil", 5, no_description), "wpeutil failed: ExitStatus(ExitStatus(5)) (0x80004005)"},
        {tool_exit_error("T:\\r.exe", 0xC0000005, described),
         "0x80004005 says: T:\\r.exe failed: ExitStatus(ExitStatus(3221225477)) (0x80004005)"},
        {DeployError::tool(0x800700C1, ""), "0x800700C1"},
        {DeployError::tool(0x0000000A, "odd"), "odd (0x0000000A)"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.error.render(), c.expected);
    EXPECT_EQ(result_code_from_system_code(193), 0x800700C1u);
    EXPECT_EQ(result_code_from_system_code(0x12345678), 0x80075678u);
    EXPECT_EQ(result_code_from_system_code(0x80004005), 0x80004005u);

    const DeployError error = DeployError::tool(0x80004005, "diskpart failed: ExitStatus(ExitStatus(1))");
    EXPECT_EQ(error_report(error, {}), "Error: diskpart failed: ExitStatus(ExitStatus(1)) (0x80004005)\n");
    EXPECT_EQ(error_report(error, {"   0: autodeploy.exe+0x1a2b"}),
              "Error: diskpart failed: ExitStatus(ExitStatus(1)) (0x80004005)\n\nStack backtrace:\n"
              "   0: autodeploy.exe+0x1a2b\n");
}

}  // namespace
}  // namespace autodeploy
