// What only Windows shows of running tools: how its own parser splits our command lines, and the
// handles run_tool and stage_file leave open. The renderings, the search and the staging are
// proven by whole runs (deployment_test), the stage sequence natively (tests/core).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "standin_fixture.hpp"
#include "tools/command_line.hpp"
#include "tools/tool_runner.hpp"
#include "tools/work_file_stager.hpp"
#include <shellapi.h>

namespace autodeploy {
namespace {

using namespace standin_test;

// Thousands of random arguments of the characters that quoting is about, CJK among them, each
// command line quoted by us and split by CommandLineToArgvW. The seed is fixed: a failure repeats.
TEST(CommandLine, RoundTripThroughCommandLineToArgvW) {
    const std::vector<std::string> pieces = {"\"", "\\", " ", "\t", "a", "系", "统"};
    std::mt19937 random(20250223);
    std::uniform_int_distribution<std::size_t> piece(0, pieces.size() - 1), length(0, 8), count(1, 6);
    const std::string program = "C:\\Temp Dir\\udp-receiver.exe";
    for (int line = 0; line < 1000; ++line) {
        std::vector<std::string> arguments(count(random));
        for (std::string& argument : arguments) {
            for (std::size_t n = length(random); n > 0; --n) argument += pieces[piece(random)];
        }
        const std::string command_line = build_command_line(program, arguments);
        int split_count = 0;
        wchar_t** split = CommandLineToArgvW(widen(command_line).c_str(), &split_count);
        ASSERT_NE(split, nullptr);
        std::vector<std::string> split_arguments;
        for (int i = 1; i < split_count; ++i) split_arguments.push_back(utf8(split[i]));
        EXPECT_EQ(utf8(split[0]), program) << command_line;
        LocalFree(split);
        ASSERT_EQ(split_arguments, arguments) << "line " << line << ": " << command_line;
    }
}

class Tools : public ::testing::Test {
protected:
    ScratchDirectory scratch;
    ScopedEnvironment environment{{{L"TMP", scratch.path}, {L"TEMP", scratch.path}}};

    std::string install(const std::wstring& name) {
        EXPECT_TRUE(CopyFileW(standin_path().c_str(), (scratch / name).c_str(), FALSE)) << utf8(name);
        return utf8(scratch / name);
    }
};

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
