// What only a call from inside the process shows of run_tool and stage_file: the arguments as the
// child's C runtime splits them, and the handles left open. The renderings, the search and the
// staging are proven by whole runs (deployment_test), the quoting rules natively (tests/core).
#include <gtest/gtest.h>

#include <cstdint>

#include "standin_fixture.hpp"
#include "tools/tool_runner.hpp"
#include "tools/work_file_stager.hpp"

namespace autodeploy {
namespace {

using namespace standin_test;

class Tools : public ::testing::Test {
protected:
    ScratchDirectory scratch;
    ScopedEnvironment environment{
        {{L"TMP", scratch.path}, {L"TEMP", scratch.path}, {L"STANDIN_JOURNAL", scratch / L"journal.txt"}}};

    std::string install(const std::wstring& name) {
        EXPECT_TRUE(CopyFileW(standin_path().c_str(), (scratch / name).c_str(), FALSE)) << utf8(name);
        return utf8(scratch / name);
    }
};

// What quoting is about: blanks, quotes, and backslashes before a quote or a closing quote.
TEST_F(Tools, ArgumentsArriveAsGiven) {
    const std::vector<std::string> arguments = {"", "a b", "C:\\my dir\\", "say \"hi\\\" now\\\\", "系统 镜像", "/s"};
    EXPECT_TRUE(run_tool(install(L"echo.exe"), arguments, OutputMode::Quiet).ok());
    EXPECT_EQ(read_file(scratch / L"journal.txt"), "echo\t\ta b\tC:\\my dir\\\tsay \"hi\\\" now\\\\\t系统 镜像\t/s\n");
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
