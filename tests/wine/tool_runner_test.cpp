// run_tool against real child processes: the stand-in tool, copied under the names a case needs,
// reports what it received and does what its environment tells it. The quoting strings and the
// search order are tested natively (tests/core); these prove the Win32 path: CreateProcessW, the
// real directories and the real standard handles.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "standin_fixture.hpp"
#include "tools/tool_runner.hpp"
#include "tools/work_file_stager.hpp"

namespace autodeploy {
namespace {

using standin_test::own_directory;
using standin_test::read_file;
using standin_test::remove_file;
using standin_test::ScopedEnvironment;
using standin_test::ScratchDirectory;
using standin_test::standin_path;
using standin_test::system_message;
using standin_test::unique_name;
using standin_test::utf8;
using standin_test::wide;
using standin_test::write_file;

// Empty for success, else the error exactly as the user sees it.
std::string outcome(const Status& status) { return status.ok() ? "" : status.error().render(); }

class StandinTest : public ::testing::Test {
protected:
    // A copy of the stand-in in the scratch directory, by its full path; its role is `name`.
    std::string install(std::wstring_view name) {
        const std::wstring target = scratch_ / name;
        EXPECT_TRUE(CopyFileW(standin_path().c_str(), target.c_str(), FALSE)) << utf8(target);
        return utf8(target);
    }

    ScratchDirectory scratch_;
};

// Pieces chosen for the quoting rules: blanks force quotes, quotes need escaping, backslash runs
// matter only before a quote or at the end of a quoted argument.
std::string generated_argument(std::mt19937_64& random) {
    static const char* const kPieces[] = {
        " ",  "  ", "\t",   "\"",        "\"\"", "\\", "\\\\",   "\\\"", "\\\\\"", "\\\\\\\"", "a", "Z", "-", "/s",
        "C:", "é",  "系统", "镜像 文件", "=",    "'",  "%PATH%", "^",    "&",      "|",        "<", ">", "*", "?",
    };
    if (random() % 12 == 0) return {};
    std::string argument;
    for (auto pieces = 1 + random() % 6; pieces > 0; --pieces) argument += kPieces[random() % std::size(kPieces)];
    if (random() % 4 == 0) argument.append(1 + random() % 4, '\\');  // doubled only when quoted
    return argument;
}

// The stand-in's STANDIN_REPORT ("kind:hex" lines): the values of one kind, decoded.
std::vector<std::string> reported(const std::string& report, const std::string& kind) {
    std::vector<std::string> values;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with(kind + ":")) continue;
        std::string& bytes = values.emplace_back();
        for (std::size_t i = kind.size() + 1; i + 1 < line.size(); i += 2) {
            bytes.push_back(static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16)));
        }
    }
    return values;
}

TEST_F(StandinTest, GeneratedArgumentsArriveUnchangedForBothParsers) {
    install(L"EchoArgs.exe");
    const ScopedEnvironment path(L"PATH", scratch_.path());
    std::mt19937_64 random(20240611);  // the same sequence with every standard library
    std::size_t checked = 0;
    for (int run = 0; run < 150; ++run) {  // long lists: thousands of arguments in few processes
        std::vector<std::string> arguments(1 + random() % 50);
        for (std::string& argument : arguments) argument = generated_argument(random);
        const std::wstring report_path = scratch_ / (L"report-" + std::to_wstring(run) + L".txt");
        const ScopedEnvironment report_variable(L"STANDIN_REPORT", report_path);
        ASSERT_EQ(outcome(run_tool("EchoArgs", arguments, OutputMode::Quiet)), "") << "run " << run;
        const std::string report = read_file(report_path).value_or("");
        const std::vector<std::string> raw = reported(report, "raw");
        ASSERT_EQ(raw.size(), 1u) << "run " << run << ": no report";
        // The program as the caller wrote it, not the file that was found.
        ASSERT_TRUE(raw[0].starts_with("\"EchoArgs\" ")) << raw[0];
        ASSERT_EQ(reported(report, "crt"), arguments) << "C runtime split of " << raw[0];
        ASSERT_EQ(reported(report, "shell"), arguments) << "CommandLineToArgvW split of " << raw[0];
        checked += arguments.size();
    }
    EXPECT_GE(checked, 3000u);
}

// Every failure names the program as the caller wrote it: bare, with ".exe", a path without it.
TEST_F(StandinTest, OutcomesAreRenderedExactly) {
    const std::string path = install(L"exitcode.exe");
    const std::string without_extension = path.substr(0, path.size() - 4);
    const std::string not_a_program = utf8(scratch_ / L"not-a-program.exe");
    ASSERT_TRUE(write_file(wide(not_a_program), "not a program"));
    const ScopedEnvironment search(L"PATH", scratch_.path());
    const struct {
        std::wstring exit_code;
        std::string program;
        std::string expected;
    } cases[] = {
        {L"0", "exitcode", ""},
        {L"1", "ExitCode", "ExitCode failed: ExitStatus(ExitStatus(1)) (0x80004005)"},
        {L"5", "exitcode.exe", "exitcode.exe failed: ExitStatus(ExitStatus(5)) (0x80004005)"},
        {L"255", without_extension, without_extension + " failed: ExitStatus(ExitStatus(255)) (0x80004005)"},
        {L"0xC0000005", path, path + " failed: ExitStatus(ExitStatus(3221225477)) (0x80004005)"},
        {L"0", not_a_program, not_a_program + ": " + system_message(ERROR_BAD_EXE_FORMAT) + " (0x800700C1)"},
        {L"0", "autodeploy-absent-tool", "autodeploy-absent-tool: program not found (0x8000FFFF)"},
    };
    for (const auto& c : cases) {
        const ScopedEnvironment exit_code(L"STANDIN_EXITCODE_EXIT", c.exit_code);
        EXPECT_EQ(outcome(run_tool(c.program, {"/x"}, OutputMode::Quiet)), c.expected);
    }
}

// Each case puts the stand-in in one place and a file that is not a program, of the same name, in
// another: the one that runs shows which place the Win32 layer looked at first.
TEST_F(StandinTest, BareNamesAreSearchedForInTheRealDirectories) {
    enum Place { Own, System, Windows, Path, Current, Nowhere };
    const char* const kPlaceNames[] = {"own", "system", "Windows", "PATH", "current", "nowhere"};
    wchar_t system[MAX_PATH], windows[MAX_PATH];
    const std::wstring directories[] = {
        own_directory(),
        std::wstring(system, GetSystemDirectoryW(system, MAX_PATH)) + L"\\",
        std::wstring(windows, GetWindowsDirectoryW(windows, MAX_PATH)) + L"\\",
        scratch_.make_directory(L"tools; v2") + L"\\",  // reachable only through a quoted PATH entry
        scratch_.path() + L"\\",
    };
    const ScopedEnvironment path(L"PATH", L"C:\\no-such-directory;;\"" + directories[Path] + L"\";");
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(directories[Current].c_str());
    const struct {
        Place program;
        Place decoy;
    } cases[] = {
        {Own, Path}, {Own, System}, {System, Windows}, {Windows, Path}, {Path, Nowhere}, {Current, Nowhere},
    };
    for (const auto& c : cases) {
        const std::wstring name = unique_name(L"searched");
        const std::wstring file = name + L".exe";
        EXPECT_TRUE(CopyFileW(standin_path().c_str(), (directories[c.program] + file).c_str(), FALSE));
        EXPECT_TRUE(c.decoy == Nowhere || write_file(directories[c.decoy] + file, "not a program"));
        const std::string expected = c.program == Current ? utf8(name) + ": program not found (0x8000FFFF)" : "";
        EXPECT_EQ(outcome(run_tool(utf8(name), {}, OutputMode::Quiet)), expected)
            << "program in " << kPlaceNames[c.program] << ", decoy in " << kPlaceNames[c.decoy];
        remove_file(directories[c.program] + file);
        if (c.decoy != Nowhere) remove_file(directories[c.decoy] + file);
    }
    SetCurrentDirectoryW(previous);
}

struct Captured {
    std::string output;
    std::string error;
};

// Points our standard output and error at fresh files or pipes while `call` runs.
Captured capture(bool to_pipes, const ScratchDirectory& scratch, const std::function<void()>& call) {
    const DWORD streams[] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE ours[2], read_end[2] = {}, write_end[2] = {};
    std::wstring files[2];
    for (int i = 0; i < 2; ++i) {
        ours[i] = GetStdHandle(streams[i]);
        files[i] = scratch / unique_name(L"captured");
        if (to_pipes) {
            CreatePipe(&read_end[i], &write_end[i], nullptr, 1 << 16);
        } else {
            write_end[i] = CreateFileW(files[i].c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                                       nullptr);
        }
        SetStdHandle(streams[i], write_end[i]);
    }
    call();
    std::string captured[2];
    for (int i = 0; i < 2; ++i) {
        SetStdHandle(streams[i], ours[i]);
        CloseHandle(write_end[i]);
        if (!to_pipes) captured[i] = read_file(files[i]).value_or("<no file>");
        // Only what is there: a copy of the write end left open would keep a read waiting forever.
        char buffer[4096];
        DWORD available = 0, got = 0;
        while (to_pipes && PeekNamedPipe(read_end[i], nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
               ReadFile(read_end[i], buffer, sizeof buffer, &got, nullptr)) {
            captured[i].append(buffer, got);
        }
        if (to_pipes) CloseHandle(read_end[i]);
    }
    return {captured[0], captured[1]};
}

TEST_F(StandinTest, QuietHidesAndShownPassesTheChildsBytesThrough) {
    const std::string program = install(L"chatty.exe");
    const ScopedEnvironment output(L"STANDIN_CHATTY_STDOUT", L"进度: 42% \"done\"\tC:\\system.wim é");
    const ScopedEnvironment error(L"STANDIN_CHATTY_STDERR", L"错误：镜像无效\r\nsecond line");
    for (const bool to_pipes : {false, true}) {
        for (const OutputMode mode : {OutputMode::Quiet, OutputMode::Shown}) {
            const bool shown = mode == OutputMode::Shown;
            SCOPED_TRACE(std::string(to_pipes ? "pipes, " : "files, ") + (shown ? "Shown" : "Quiet"));
            std::string result = "not run";
            const auto run = [&] { result = outcome(run_tool(program, {}, mode)); };
            const Captured captured = capture(to_pipes, scratch_, run);
            EXPECT_EQ(result, "");
            EXPECT_EQ(captured.output, shown ? "进度: 42% \"done\"\tC:\\system.wim é\n" : "");
            EXPECT_EQ(captured.error, shown ? "错误：镜像无效\r\nsecond line\n" : "");
        }
    }
}

// Wine's GetProcessHandleCount reports 0, so the handle table is probed: values are multiples of
// 4, the lowest free one is handed out first, and a long run of closed values ends the table.
DWORD open_handles() {
    DWORD open = 0, flags = 0;
    for (std::uintptr_t value = 4, closed_run = 0; closed_run < 1024; value += 4) {
        const bool is_open = GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags);
        open += is_open;
        closed_run = is_open ? 0 : closed_run + 1;
    }
    return open;
}

TEST_F(StandinTest, RunsAndStagingLeaveNoHandlesBehind) {
    const std::string program = install(L"leakcheck.exe");
    const std::string not_a_program = utf8(scratch_ / L"not-a-program.exe");
    ASSERT_TRUE(write_file(wide(not_a_program), "text"));
    const ScopedEnvironment tmp(L"TMP", scratch_.path()), temp(L"TEMP", scratch_.path());
    const ScopedEnvironment output(L"STANDIN_LEAKCHECK_STDOUT", L"out");
    const auto every_kind_of_call = [&](int round) {
        const ScopedEnvironment exit_code(L"STANDIN_LEAKCHECK_EXIT", std::to_wstring(round % 3));
        const OutputMode mode = round % 2 == 0 ? OutputMode::Quiet : OutputMode::Shown;
        (void)run_tool(program, {"round"}, mode);
        (void)run_tool(not_a_program, {}, mode);
        (void)run_tool("autodeploy-absent-tool", {}, mode);
        run_ignoring(program, {"ignored"});
        (void)stage_file("leakcheck.txt", std::string(static_cast<std::size_t>(round) * 100, 'x'));
    };
    DWORD before = 0, after = 0, with_leak = 0;
    // Captured only to keep the Shown output out of the test log.
    capture(false, scratch_, [&] {
        every_kind_of_call(0);  // a first use may open handles that live as long as the process
        before = open_handles();
        for (int round = 1; round <= 4; ++round) every_kind_of_call(round);
        after = open_handles();
        const HANDLE leaked = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        with_leak = open_handles();
        CloseHandle(leaked);
    });
    EXPECT_GT(before, 0u);
    EXPECT_EQ(after, before);
    EXPECT_EQ(with_leak, after + 1) << "the probe must see a handle left open";
}

}  // namespace
}  // namespace autodeploy
