// run_tool and stage_file against real processes and files: the stand-in tool, copied under the
// names a case needs, records what it received and exits as its environment tells it. Quoting and
// the search order are tested natively (tests/core); these prove the Win32 layer.
#include <gtest/gtest.h>

#include <cstdint>

#include "standin_fixture.hpp"
#include "tools/tool_runner.hpp"
#include "tools/work_file_stager.hpp"

namespace autodeploy {
namespace {

using namespace standin_test;

// Empty for success, else the error exactly as the user sees it.
std::string outcome(const Status& status) { return status.ok() ? "" : status.error().render(); }

class Tools : public ::testing::Test {
protected:
    ScratchDirectory scratch;
    ScopedEnvironment environment{{{L"PATH", scratch.directory(L"on path")},
                                   {L"TMP", scratch.path},
                                   {L"TEMP", scratch.path},
                                   {L"STANDIN_JOURNAL", scratch / L"journal.txt"}}};

    std::string install(const std::wstring& name) {
        EXPECT_TRUE(CopyFileW(standin_path().c_str(), (scratch / name).c_str(), FALSE)) << utf8(name);
        return utf8(scratch / name);
    }
};

// The program is named in each rendering exactly as the caller wrote it.
TEST_F(Tools, EachOutcomeIsRenderedExactly) {
    install(L"on path\\exitcode.exe");
    install(L"here only.exe");
    const std::string full_path = install(L"exitcode.exe");
    const std::string not_a_program = utf8(scratch / L"text.exe");
    write_file(scratch / L"text.exe", "not a program");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(scratch.path);
    const struct {
        const wchar_t* exit_code;
        std::string program, expected;
    } cases[] = {
        {L"5", "exitcode", "exitcode failed: ExitStatus(ExitStatus(5)) (0x80004005)"},
        {L"0xC0000005", full_path, full_path + " failed: ExitStatus(ExitStatus(3221225477)) (0x80004005)"},
        {L"0", not_a_program, not_a_program + ": " + system_message(ERROR_BAD_EXE_FORMAT) + " (0x800700C1)"},
        {L"0", "here only", "here only: program not found (0x8000FFFF)"},  // the current directory is not searched
    };
    for (const auto& c : cases) {
        const ScopedEnvironment exit_code(Variables{{L"STANDIN_EXITCODE_EXIT", c.exit_code}});
        EXPECT_EQ(outcome(run_tool(c.program, {"/x"}, OutputMode::Quiet)), c.expected) << c.program;
    }
    std::filesystem::current_path(previous);
}

// What quoting is about: blanks, quotes, and backslashes before a quote or a closing quote.
TEST_F(Tools, ArgumentsArriveAsGiven) {
    const std::vector<std::string> arguments = {"", "a b", "C:\\my dir\\", "say \"hi\\\" now\\\\", "系统 镜像", "/s"};
    ASSERT_EQ(outcome(run_tool(install(L"echo.exe"), arguments, OutputMode::Quiet)), "");
    EXPECT_EQ(read_file(scratch / L"journal.txt"), "echo\t\ta b\tC:\\my dir\\\tsay \"hi\\\" now\\\\\t系统 镜像\t/s\n");
}

// Staging again replaces the whole content, also a longer one, and keeps attributes someone else set.
TEST_F(Tools, RestagingReplacesTheContentAndKeepsTheAttributes) {
    constexpr DWORD kSet = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const std::wstring path = scratch / L"prep_disk.txt";
    write_file(path, std::string(10000, 'x'));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), kSet));
    const Result<std::string> staged = stage_file("prep_disk.txt", "short");
    EXPECT_EQ(staged.ok() ? staged.value() : staged.error().render(), utf8(path));
    EXPECT_EQ(read_file(path), "short");
    EXPECT_EQ(GetFileAttributesW(path.c_str()) & (kSet | FILE_ATTRIBUTE_READONLY), kSet);
}

// Wine's GetProcessHandleCount says 0, so the handle table is probed: values are multiples of 4,
// the lowest free one is handed out first, and a long run of closed values ends the table.
DWORD open_handles() {
    DWORD open = 0, flags = 0;
    for (std::uintptr_t value = 4, closed_run = 0; closed_run < 1024; value += 4) {
        const bool is_open = GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags);
        open += is_open;
        closed_run = is_open ? 0 : closed_run + 1;
    }
    return open;
}

TEST_F(Tools, RunsAndStagingLeaveNoHandleOpen) {
    const std::string program = install(L"leakcheck.exe"), not_a_program = utf8(scratch / L"text.exe");
    write_file(scratch / L"text.exe", "not a program");
    const ScopedEnvironment failing(Variables{{L"STANDIN_LEAKCHECK_EXIT", L"1"}});
    const auto every_kind_of_call = [&] {
        for (const OutputMode mode : {OutputMode::Quiet, OutputMode::Shown}) (void)run_tool(program, {}, mode);
        run_ignoring(program, {});
        (void)run_tool(not_a_program, {}, OutputMode::Quiet);
        (void)stage_file("leakcheck.txt", "bytes");
    };
    every_kind_of_call();  // a first call may open handles that live as long as the process
    const DWORD before = open_handles();
    every_kind_of_call();
    EXPECT_EQ(open_handles(), before);
}

}  // namespace
}  // namespace autodeploy
