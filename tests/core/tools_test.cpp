// Running tools, without a system: command lines, the program search, errors and their report.
#include <gtest/gtest.h>

#include <set>

#include "main/error_report.hpp"
#include "tools/command_line.hpp"
#include "tools/deploy_error.hpp"
#include "tools/program_search.hpp"

namespace autodeploy {
namespace {

// As the C runtime reads a command line: blanks need quotes, a quote needs a backslash, and a run
// of backslashes is doubled only before a quote or at the end of a quoted argument.
TEST(BuildCommandLine, QuotesAndEscapesLikeTheCRuntimeReadsIt) {
    const struct {
        std::vector<std::string> arguments;
        std::string expected;
    } cases[] = {
        {{"/s", "C:\\Temp\\prep_disk.txt"}, R"("prog" /s C:\Temp\prep_disk.txt)"},
        {{""}, R"("prog" "")"},
        {{"a\tb"}, "\"prog\" \"a\tb\""},
        {{R"(a\"b)"}, R"("prog" a\\\"b)"},
        {{R"(C:\dir\)"}, R"("prog" C:\dir\)"},
        {{R"(C:\my dir\\)"}, R"("prog" "C:\my dir\\\\")"},
        {{R"(say "hi" now)"}, R"("prog" "say \"hi\" now")"},
        {{"系统 镜像"}, "\"prog\" \"系统 镜像\""},
    };
    for (const auto& c : cases) EXPECT_EQ(build_command_line("prog", c.arguments), c.expected);
    EXPECT_EQ(build_command_line(R"(C:\Temp Dir\udp-receiver.exe)", {}), R"("C:\Temp Dir\udp-receiver.exe")");
}

TEST(FindProgram, SearchOrderAndExtensions) {
    const ProgramSearchPlaces places{R"(X:\tools)", R"(X:\windows\system32)", R"(X:\windows)",
                                     R"(X:\path one;;"X:\quoted;dir";X:\last\)"};
    const struct {
        const char* what;
        std::string program;
        std::set<std::string> existing;
        std::optional<std::string> expected;
    } cases[] = {
        {"own directory first",
         "diskpart",
         {R"(X:\tools\diskpart.exe)", R"(X:\windows\system32\diskpart.exe)"},
         R"(X:\tools\diskpart.exe)"},
        {"system before Windows",
         "dism",
         {R"(X:\windows\system32\dism.exe)", R"(X:\windows\dism.exe)"},
         R"(X:\windows\system32\dism.exe)"},
        {"Windows before PATH",
         "bcdboot",
         {R"(X:\windows\bcdboot.exe)", R"(X:\path one\bcdboot.exe)"},
         R"(X:\windows\bcdboot.exe)"},
        {"quoted PATH entry keeps its semicolon", "tool", {R"(X:\quoted;dir\tool.exe)"}, R"(X:\quoted;dir\tool.exe)"},
        {"no separator added after one", "tool", {R"(X:\last\tool.exe)"}, R"(X:\last\tool.exe)"},
        {"a dotted name gets no .exe",
         "setup.cmd",
         {R"(X:\tools\setup.cmd)", R"(X:\tools\setup.cmd.exe)"},
         R"(X:\tools\setup.cmd)"},
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
    const struct {
        DeployError error;
        const char* expected;
    } cases[] = {
        {DeployError::file(5, "Access is denied."), "Access is denied. (os error 5)"},
        {DeployError::file(32, missing_message_text(32, 317)),
         "OS Error 32 (FormatMessageW() returned error 317) (os error 32)"},
        {DeployError::file_text("failed to write whole buffer"), "failed to write whole buffer"},
        {DeployError::tool(0x8000FFFF, "diskpart: program not found"), "diskpart: program not found (0x8000FFFF)"},
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
