// run_tool and run_ignoring against real child processes: the stand-in tool, copied under the
// names a case needs, reports what it received and does what its environment tells it.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "standin_fixture.hpp"
#include "tools/tool_runner.hpp"
#include "tools/work_file_stager.hpp"

namespace autodeploy {
namespace {

using standin_test::file_exists;
using standin_test::own_directory;
using standin_test::read_file;
using standin_test::ScopedCopy;
using standin_test::ScopedEnvironment;
using standin_test::ScratchDirectory;
using standin_test::standin_path;
using standin_test::system_message;
using standin_test::unique_name;
using standin_test::utf8;
using standin_test::wide;
using standin_test::write_file;

constexpr std::uint32_t kToolFailed = 0x80004005;
constexpr std::uint32_t kNotFound = 0x8000FFFF;
constexpr std::uint32_t kBadExecutable = 0x800700C1;
constexpr DWORD kBadExeFormat = 193;

std::string failed_text(const std::string& program, std::uint32_t exit_code) {
    return program + " failed: ExitStatus(ExitStatus(" + std::to_string(exit_code) + "))";
}

// What the stand-in wrote for STANDIN_REPORT, decoded.
struct ChildReport {
    std::string raw;
    std::vector<std::string> crt;
    std::vector<std::string> shell;
};

std::optional<std::string> from_hex(std::string_view digits) {
    if (digits.size() % 2 != 0) return std::nullopt;
    const auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int high = value(digits[i]);
        const int low = value(digits[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return bytes;
}

std::optional<ChildReport> read_report(const std::wstring& path) {
    const std::optional<std::string> text = read_file(path);
    if (!text) return std::nullopt;
    ChildReport report;
    std::size_t start = 0;
    while (start < text->size()) {
        const std::size_t end = text->find('\n', start);
        if (end == std::string::npos) return std::nullopt;
        const std::string_view line(text->data() + start, end - start);
        start = end + 1;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) return std::nullopt;
        const std::optional<std::string> bytes = from_hex(line.substr(colon + 1));
        if (!bytes) return std::nullopt;
        const std::string_view kind = line.substr(0, colon);
        if (kind == "raw") report.raw = *bytes;
        else if (kind == "crt") report.crt.push_back(*bytes);
        else if (kind == "shell") report.shell.push_back(*bytes);
        else return std::nullopt;
    }
    return report;
}

// A stand-in copied into a scratch directory under its own name, run by full path.
class StandinTest : public ::testing::Test {
protected:
    // The copy's full path; its role is `name` without ".exe".
    std::wstring install(std::wstring_view name) {
        const std::wstring target = scratch_ / name;
        EXPECT_TRUE(CopyFileW(standin_path().c_str(), target.c_str(), FALSE)) << utf8(target);
        return target;
    }

    ScratchDirectory scratch_;
};

// ---------------------------------------------------------------------------------------------
// Command line

// splitmix64: the same sequence on every platform and standard library.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(next() % bound); }

private:
    std::uint64_t state_;
};

// Pieces chosen for the quoting rules: blanks force quotes, quotes need escaping, backslash runs
// matter only before a quote or at the end of a quoted argument.
const std::vector<std::string> kArgumentPieces = {
    " ", "  ", "\t", "\"", "\"\"", "\\", "\\\\", "\\\"", "\\\\\"", "\\\\\\\"", "a", "Z", "0", "-",
    "/s", "C:", "é", "系统", "镜像 文件", "=", "'", "%PATH%", "^", "&", "|", "<", ">", "*", "?",
};

std::string generated_argument(Random& random) {
    if (random.below(12) == 0) return {};
    std::string argument;
    const std::size_t pieces = 1 + random.below(6);
    for (std::size_t i = 0; i < pieces; ++i) argument += kArgumentPieces[random.below(kArgumentPieces.size())];
    // A run of backslashes at the very end, doubled only when the argument gets quoted.
    if (random.below(4) == 0) argument.append(1 + random.below(4), '\\');
    return argument;
}

TEST_F(StandinTest, GeneratedArgumentListsArriveUnchangedForBothParsers) {
    const std::wstring program = install(L"echoargs.exe");
    const std::wstring report_path = scratch_ / L"report.txt";
    const ScopedEnvironment report(L"STANDIN_REPORT", report_path);

    // Each run carries a long list, so a few hundred child processes cover thousands of arguments.
    constexpr int kRuns = 400;
    Random random(20240611);
    std::size_t arguments_checked = 0;
    for (int run = 0; run < kRuns; ++run) {
        std::vector<std::string> arguments(1 + random.below(50));
        for (std::string& argument : arguments) argument = generated_argument(random);

        DeleteFileW(report_path.c_str());
        const Status status = run_tool(utf8(program), arguments, OutputMode::Quiet);
        ASSERT_TRUE(status.ok()) << "run " << run << ": " << status.error().render();
        const std::optional<ChildReport> child = read_report(report_path);
        ASSERT_TRUE(child.has_value()) << "run " << run << ": no readable report";
        ASSERT_EQ(child->crt, arguments) << "run " << run << ", C runtime split of " << child->raw;
        ASSERT_EQ(child->shell, arguments) << "run " << run << ", CommandLineToArgvW split of " << child->raw;
        arguments_checked += arguments.size();
    }
    EXPECT_GE(arguments_checked, 8000u);
}

// The exact line the child receives: the program as passed in quotes, then each argument.
TEST_F(StandinTest, CommandLineIsBuiltExactly) {
    struct Case {
        std::vector<std::string> arguments;
        std::string expected_after_program;
    };
    const Case cases[] = {
        {{}, ""},
        {{"a"}, " a"},
        {{""}, " \"\""},
        {{"a b"}, " \"a b\""},
        {{"a\tb"}, " \"a\tb\""},
        {{"a\"b"}, " a\\\"b"},
        {{"\""}, " \\\""},
        {{"a\\\"b"}, " a\\\\\\\"b"},
        {{"a\\\\\"b"}, " a\\\\\\\\\\\"b"},
        {{"a\\b\\"}, " a\\b\\"},
        {{"a b\\"}, " \"a b\\\\\""},
        {{"x y\\\\"}, " \"x y\\\\\\\\\""},
        {{"say \"hi\""}, " \"say \\\"hi\\\"\""},
        {{"系统 镜像", "é"}, " \"系统 镜像\" é"},
        {{"/s", "C:\\temp dir\\prep_disk.txt"}, " /s \"C:\\temp dir\\prep_disk.txt\""},
        {{"--file", "C:\\system.wim", "--nokbd"}, " --file C:\\system.wim --nokbd"},
        {{"", "", "x"}, " \"\" \"\" x"},
    };
    const std::string program = utf8(install(L"echoline.exe"));
    const std::wstring report_path = scratch_ / L"report.txt";
    const ScopedEnvironment report(L"STANDIN_REPORT", report_path);
    for (const Case& c : cases) {
        DeleteFileW(report_path.c_str());
        const Status status = run_tool(program, c.arguments, OutputMode::Quiet);
        ASSERT_TRUE(status.ok()) << status.error().render();
        const std::optional<ChildReport> child = read_report(report_path);
        ASSERT_TRUE(child.has_value());
        EXPECT_EQ(child->raw, "\"" + program + "\"" + c.expected_after_program);
        EXPECT_EQ(child->crt, c.arguments) << child->raw;
    }

    // A bare name found along PATH still appears as written, not as the file that was found.
    const ScopedEnvironment path(L"PATH", scratch_.path());
    DeleteFileW(report_path.c_str());
    ASSERT_TRUE(run_tool("EchoLine", {"a b"}, OutputMode::Quiet).ok());
    const std::optional<ChildReport> child = read_report(report_path);
    ASSERT_TRUE(child.has_value());
    EXPECT_EQ(child->raw, "\"EchoLine\" \"a b\"");
}

// ---------------------------------------------------------------------------------------------
// Exit codes and start failures

TEST_F(StandinTest, ExitCodeDecidesTheOutcome) {
    const std::uint32_t codes[] = {0, 1, 5, 255, 256, 259, 0xC0000005, 0xFFFFFFFF};
    const std::string program = utf8(install(L"exitcode.exe"));
    for (const std::uint32_t code : codes) {
        const ScopedEnvironment exit_code(L"STANDIN_EXITCODE_EXIT", std::to_wstring(code));
        const Status status = run_tool(program, {"/x"}, OutputMode::Quiet);
        if (code == 0) {
            EXPECT_TRUE(status.ok()) << status.error().render();
            continue;
        }
        ASSERT_FALSE(status.ok()) << "exit code " << code;
        EXPECT_EQ(status.error().kind(), DeployError::Kind::Tool);
        EXPECT_EQ(status.error().code(), kToolFailed);
        EXPECT_EQ(status.error().message(), failed_text(program, code));
        EXPECT_EQ(status.error().render(), failed_text(program, code) + " (0x80004005)");
    }
}

TEST_F(StandinTest, AccessViolationExitIsRenderedAsUnsignedDecimal) {
    const std::string program = utf8(install(L"crashing.exe"));
    const ScopedEnvironment exit_code(L"STANDIN_CRASHING_EXIT", L"0xC0000005");
    const Status status = run_tool(program, {}, OutputMode::Shown);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().render(), program + " failed: ExitStatus(ExitStatus(3221225477)) (0x80004005)");
}

// The failure text names the program exactly as the caller wrote it, not the file that ran.
TEST_F(StandinTest, FailureNamesTheProgramAsPassed) {
    const std::wstring installed = install(L"Failing-Tool.exe");
    const std::wstring without_extension = installed.substr(0, installed.size() - 4);
    const ScopedEnvironment exit_code(L"STANDIN_FAILING_TOOL_EXIT", L"7");
    const ScopedEnvironment path(L"PATH", scratch_.path());
    const std::string programs[] = {
        "Failing-Tool",
        "failing-tool.exe",
        utf8(installed),
        utf8(without_extension),
    };
    for (const std::string& program : programs) {
        const Status status = run_tool(program, {}, OutputMode::Quiet);
        ASSERT_FALSE(status.ok()) << program;
        EXPECT_EQ(status.error().render(), failed_text(program, 7) + " (0x80004005)");
    }
}

TEST(ToolRunner, MissingProgramIsNotFound) {
    const std::string programs[] = {
        utf8(unique_name(L"autodeploy-absent-tool")),
        utf8(unique_name(L"autodeploy-absent-tool")) + ".exe",
        "系统工具-" + utf8(unique_name(L"absent")),
    };
    for (const std::string& program : programs) {
        const Status status = run_tool(program, {"x"}, OutputMode::Quiet);
        ASSERT_FALSE(status.ok()) << program;
        EXPECT_EQ(status.error().kind(), DeployError::Kind::Tool);
        EXPECT_EQ(status.error().code(), kNotFound);
        EXPECT_EQ(status.error().render(), program + ": program not found (0x8000FFFF)");
    }
}

TEST_F(StandinTest, FileThatIsNotAnExecutableIsRefusedWithItsSystemMessage) {
    const std::string contents[] = {
        "",
        "MZ",
        "@echo off\r\necho not a program\r\n",
        std::string("\x7f" "ELF\x02\x01\x01\x00\x00\x00", 10),
        std::string(4096, '\xA5'),
    };
    int index = 0;
    for (const std::string& bytes : contents) {
        const std::wstring path = scratch_ / (L"not-a-program-" + std::to_wstring(index++) + L".exe");
        ASSERT_TRUE(write_file(path, bytes));
        const Status status = run_tool(utf8(path), {"a b"}, OutputMode::Shown);
        ASSERT_FALSE(status.ok()) << utf8(path);
        const std::string expected = utf8(path) + ": " + system_message(kBadExeFormat);
        EXPECT_EQ(status.error().kind(), DeployError::Kind::Tool);
        EXPECT_EQ(status.error().code(), kBadExecutable);
        EXPECT_EQ(status.error().message(), expected);
        EXPECT_EQ(status.error().render(), expected + " (0x800700C1)");
    }
}

// ---------------------------------------------------------------------------------------------
// Program search

class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::wstring& directory) {
        wchar_t previous[MAX_PATH + 1];
        previous_.assign(previous, GetCurrentDirectoryW(MAX_PATH + 1, previous));
        SetCurrentDirectoryW(directory.c_str());
    }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;
    ~CurrentDirectory() { SetCurrentDirectoryW(previous_.c_str()); }

private:
    std::wstring previous_;
};

TEST_F(StandinTest, CurrentDirectoryIsNotSearched) {
    const std::wstring name = unique_name(L"cwd-only");
    const std::wstring installed = install(name + L".exe");
    const CurrentDirectory current(scratch_.path());

    // The copy itself runs fine by its path, and by a path relative to the current directory.
    EXPECT_TRUE(run_tool(utf8(installed), {}, OutputMode::Quiet).ok());
    EXPECT_TRUE(run_tool(".\\" + utf8(name) + ".exe", {}, OutputMode::Quiet).ok());

    // Empty PATH entries must not turn into the current directory either.
    const std::wstring paths[] = {
        L"C:\\windows\\system32;C:\\windows",
        L";C:\\windows\\system32;;",
        L"\"\";C:\\windows",
    };
    for (const std::wstring& path_value : paths) {
        const ScopedEnvironment path(L"PATH", path_value);
        for (const std::wstring& program : {name, name + L".exe"}) {
            const Status status = run_tool(utf8(program), {}, OutputMode::Quiet);
            ASSERT_FALSE(status.ok()) << utf8(program) << " with PATH=" << utf8(path_value);
            EXPECT_EQ(status.error().render(), utf8(program) + ": program not found (0x8000FFFF)");
        }
    }
}

// Search order: own directory, system directory, Windows directory, PATH. Each case puts the
// stand-in at the earlier place and a non-executable file of the same name at the later one: the
// run succeeds only if the earlier place is looked at first. Removing the stand-in then shows
// that the later place is searched at all.
TEST_F(StandinTest, EarlierSearchPlaceWins) {
    enum class Place { Own, System, Windows, Path };
    const auto directory_of = [&](Place place) -> std::wstring {
        wchar_t buffer[MAX_PATH + 1];
        switch (place) {
            case Place::Own: return own_directory();
            case Place::System: return std::wstring(buffer, GetSystemDirectoryW(buffer, MAX_PATH + 1)) + L"\\";
            case Place::Windows: return std::wstring(buffer, GetWindowsDirectoryW(buffer, MAX_PATH + 1)) + L"\\";
            case Place::Path: return scratch_.path() + L"\\";
        }
        return {};
    };
    struct Case {
        Place winner;
        Place loser;
    };
    const Case cases[] = {
        {Place::Own, Place::System},
        {Place::System, Place::Windows},
        {Place::Windows, Place::Path},
        {Place::Own, Place::Path},
    };
    const ScopedEnvironment path(L"PATH", L"C:\\no-such-directory;" + scratch_.path());
    for (const Case& c : cases) {
        const std::wstring name = unique_name(L"search-order");
        const std::wstring decoy_path = directory_of(c.loser) + name + L".exe";
        ASSERT_TRUE(write_file(decoy_path, "not a program"));
        {
            const ScopedCopy winner(standin_path(), directory_of(c.winner) + name + L".exe");
            ASSERT_TRUE(winner.copied()) << utf8(winner.path());
            const Status status = run_tool(utf8(name), {}, OutputMode::Quiet);
            EXPECT_TRUE(status.ok()) << utf8(winner.path()) << ": " << status.error().render();
        }
        const Status status = run_tool(utf8(name), {}, OutputMode::Quiet);
        ASSERT_FALSE(status.ok()) << utf8(decoy_path);
        EXPECT_EQ(status.error().code(), kBadExecutable) << status.error().render();
        standin_test::remove_file(decoy_path);
    }
}

TEST_F(StandinTest, PathEntriesAreSplitAtSemicolonsOutsideQuotes) {
    const std::wstring directory = scratch_.make_directory(L"tools; v2 (x86)");
    const std::wstring name = unique_name(L"on-path");
    for (const std::wstring& file_name : {name + L".exe", name + L".v2.exe", name + L".v3"}) {
        ASSERT_TRUE(CopyFileW(standin_path().c_str(), (directory + L"\\" + file_name).c_str(), FALSE));
    }
    struct Case {
        std::wstring path;
        std::wstring program;
        bool found;
    };
    const Case cases[] = {
        {L"\"" + directory + L"\"", name, true},
        {L"C:\\no-such-directory;\"" + directory + L"\";C:\\windows", name, true},
        {L";;\"" + directory + L"\";;", name, true},
        {L"\"" + scratch_.path() + L"\"\\\"tools; v2 (x86)\"", name, true},  // quotes mid-entry
        {L"\"" + directory + L"\"", name + L".exe", true},
        {L"\"" + directory + L"\"", name + L".EXE", true},
        {directory, name, false},  // unquoted: split inside the directory name
        {L"", name, false},
        {L";;;", name, false},
        // A name holding a '.' is looked for as it is, without ".exe" added.
        {L"\"" + directory + L"\"", name + L".v2", false},
        {L"\"" + directory + L"\"", name + L".v3", true},
    };
    for (const Case& c : cases) {
        const ScopedEnvironment path(L"PATH", c.path);
        const Status status = run_tool(utf8(c.program), {}, OutputMode::Quiet);
        if (c.found) {
            EXPECT_TRUE(status.ok()) << "PATH=" << utf8(c.path) << ": " << status.error().render();
        } else {
            ASSERT_FALSE(status.ok()) << "PATH=" << utf8(c.path);
            EXPECT_EQ(status.error().render(), utf8(c.program) + ": program not found (0x8000FFFF)");
        }
    }
}

// A program given with a directory is not searched for; ".exe" is added only when that file exists.
TEST_F(StandinTest, ProgramWithDirectoryIsUsedAsGiven) {
    const std::wstring installed = install(L"direct.exe");
    const std::wstring base = installed.substr(0, installed.size() - 4);
    std::wstring forward = installed;
    for (wchar_t& c : forward) c = (c == L'\\') ? L'/' : c;
    const std::wstring programs[] = {installed, base + L".EXE", base, forward};
    for (const std::wstring& program : programs) {
        const Status status = run_tool(utf8(program), {}, OutputMode::Quiet);
        EXPECT_TRUE(status.ok()) << utf8(program) << ": " << status.error().render();
    }
}

// ---------------------------------------------------------------------------------------------
// Standard streams

// This process's standard output and error, switched to a file or a pipe for one call.
class RedirectedOutput {
public:
    enum class Sink { File, Pipe };

    RedirectedOutput(Sink sink, const ScratchDirectory& scratch) : sink_(sink) {
        if (sink == Sink::File) {
            for (int stream = 0; stream < 2; ++stream) {
                const std::wstring path = scratch / (unique_name(L"captured") + L".txt");
                write_[stream] = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr);
                read_[stream] = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            }
        } else {
            for (int stream = 0; stream < 2; ++stream) CreatePipe(&read_[stream], &write_[stream], nullptr, 1 << 16);
        }
        previous_output_ = GetStdHandle(STD_OUTPUT_HANDLE);
        previous_error_ = GetStdHandle(STD_ERROR_HANDLE);
        SetStdHandle(STD_OUTPUT_HANDLE, write_[0]);
        SetStdHandle(STD_ERROR_HANDLE, write_[1]);
    }
    RedirectedOutput(const RedirectedOutput&) = delete;
    RedirectedOutput& operator=(const RedirectedOutput&) = delete;
    ~RedirectedOutput() {
        restore();
        for (HANDLE handle : {read_[0], read_[1], write_[0], write_[1]}) CloseHandle(handle);
    }

    void restore() {
        SetStdHandle(STD_OUTPUT_HANDLE, previous_output_);
        SetStdHandle(STD_ERROR_HANDLE, previous_error_);
    }
    bool ready() const {
        for (HANDLE handle : {read_[0], read_[1], write_[0], write_[1]}) {
            if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
        }
        return true;
    }
    std::string output() const { return captured(0); }
    std::string error() const { return captured(1); }

private:
    // Reads only what is there: a pipe whose write end leaked into a child would never report
    // its end, and the test must fail rather than hang.
    std::string captured(int stream) const {
        std::string bytes;
        char buffer[4096];
        for (;;) {
            DWORD available = 0;
            if (sink_ == Sink::Pipe) {
                if (!PeekNamedPipe(read_[stream], nullptr, 0, nullptr, &available, nullptr) || available == 0) break;
            }
            DWORD got = 0;
            if (!ReadFile(read_[stream], buffer, sizeof buffer, &got, nullptr) || got == 0) break;
            bytes.append(buffer, got);
        }
        return bytes;
    }

    Sink sink_;
    HANDLE read_[2] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
    HANDLE write_[2] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
    HANDLE previous_output_ = nullptr;
    HANDLE previous_error_ = nullptr;
};

TEST_F(StandinTest, QuietHidesAndShownPassesTheChildsOutputByteForByte) {
    const std::string program = utf8(install(L"chatty.exe"));
    const ScopedEnvironment output(L"STANDIN_CHATTY_STDOUT", L"进度: 42% \"done\"\tC:\\system.wim é");
    const ScopedEnvironment error(L"STANDIN_CHATTY_STDERR", L"错误：镜像无效\r\nsecond line");
    const std::string expected_output = "进度: 42% \"done\"\tC:\\system.wim é\n";
    const std::string expected_error = "错误：镜像无效\r\nsecond line\n";
    struct Case {
        RedirectedOutput::Sink sink;
        OutputMode mode;
        bool shown;
    };
    const Case cases[] = {
        {RedirectedOutput::Sink::File, OutputMode::Quiet, false},
        {RedirectedOutput::Sink::File, OutputMode::Shown, true},
        {RedirectedOutput::Sink::Pipe, OutputMode::Quiet, false},
        {RedirectedOutput::Sink::Pipe, OutputMode::Shown, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.sink == RedirectedOutput::Sink::File ? "file, " : "pipe, ") +
                     (c.shown ? "Shown" : "Quiet"));
        RedirectedOutput redirected(c.sink, scratch_);
        ASSERT_TRUE(redirected.ready());
        const Status status = run_tool(program, {}, c.mode);
        redirected.restore();
        ASSERT_TRUE(status.ok()) << status.error().render();
        EXPECT_EQ(redirected.output(), c.shown ? expected_output : "");
        EXPECT_EQ(redirected.error(), c.shown ? expected_error : "");
    }
}

// Without standard handles of our own, a Shown child simply has none either.
TEST_F(StandinTest, ShownWithoutOwnStandardHandlesStillRuns) {
    const std::string program = utf8(install(L"nohandles.exe"));
    const std::wstring journal = scratch_ / L"journal.txt";
    const ScopedEnvironment journal_variable(L"STANDIN_JOURNAL", journal);
    const ScopedEnvironment output(L"STANDIN_NOHANDLES_STDOUT", L"nobody reads this");
    const ScopedEnvironment error(L"STANDIN_NOHANDLES_STDERR", L"nor this");
    const HANDLE previous_output = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE previous_error = GetStdHandle(STD_ERROR_HANDLE);
    for (const HANDLE none : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        SetStdHandle(STD_OUTPUT_HANDLE, none);
        SetStdHandle(STD_ERROR_HANDLE, none);
        const Status status = run_tool(program, {"shown"}, OutputMode::Shown);
        SetStdHandle(STD_OUTPUT_HANDLE, previous_output);
        SetStdHandle(STD_ERROR_HANDLE, previous_error);
        EXPECT_TRUE(status.ok()) << status.error().render();
    }
    EXPECT_EQ(read_file(journal), "nohandles\tshown\nnohandles\tshown\n");
}

// run_ignoring runs the tool with our streams and reports nothing, whatever happens.
TEST_F(StandinTest, RunIgnoringRunsTheToolAndDropsEveryOutcome) {
    const std::string program = utf8(install(L"wpeutil.exe"));
    const std::wstring journal = scratch_ / L"journal.txt";
    const ScopedEnvironment journal_variable(L"STANDIN_JOURNAL", journal);
    const ScopedEnvironment output(L"STANDIN_WPEUTIL_STDOUT", L"固件信息已刷新");
    struct Case {
        std::string program;
        std::optional<std::wstring> exit_code;
        std::string expected_output;
    };
    const Case cases[] = {
        {program, std::nullopt, "固件信息已刷新\n"},
        {program, L"1", "固件信息已刷新\n"},
        {program, L"0xC0000005", "固件信息已刷新\n"},
        {utf8(unique_name(L"autodeploy-absent-tool")), std::nullopt, ""},
        {utf8(scratch_ / L"missing dir\\wpeutil.exe"), std::nullopt, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        const ScopedEnvironment exit_code(L"STANDIN_WPEUTIL_EXIT", c.exit_code);
        RedirectedOutput redirected(RedirectedOutput::Sink::Pipe, scratch_);
        ASSERT_TRUE(redirected.ready());
        run_ignoring(c.program, {"UpdateBootInfo"});
        redirected.restore();
        EXPECT_EQ(redirected.output(), c.expected_output);
        EXPECT_EQ(redirected.error(), "");
    }
    EXPECT_EQ(read_file(journal), "wpeutil\tUpdateBootInfo\nwpeutil\tUpdateBootInfo\nwpeutil\tUpdateBootInfo\n");
}

// ---------------------------------------------------------------------------------------------
// Resources

// Open handles of this process. Wine's GetProcessHandleCount always reports 0, so the handle
// table is probed instead: handle values are multiples of 4, Wine hands out the lowest free one,
// and GetHandleInformation succeeds exactly for the open ones. A long run of closed values means
// the rest of the table is empty.
DWORD count_open_handles() {
    DWORD reported = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &reported) && reported != 0) return reported;
    constexpr int kClosedRunAtTheEnd = 1024;
    DWORD open = 0;
    int closed_run = 0;
    for (std::uintptr_t value = 4; closed_run < kClosedRunAtTheEnd; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++open;
            closed_run = 0;
        } else {
            ++closed_run;
        }
    }
    return open;
}

TEST_F(StandinTest, RunsAndStagingLeaveNoHandlesBehind) {
    const std::string program = utf8(install(L"leakcheck.exe"));
    const std::wstring not_a_program = scratch_ / L"not-a-program.exe";
    ASSERT_TRUE(write_file(not_a_program, "text"));
    const ScopedEnvironment temp(L"TMP", scratch_.path() + L"\\");
    const ScopedEnvironment temp_fallback(L"TEMP", scratch_.path() + L"\\");
    const ScopedEnvironment output(L"STANDIN_LEAKCHECK_STDOUT", L"out");
    RedirectedOutput redirected(RedirectedOutput::Sink::File, scratch_);
    ASSERT_TRUE(redirected.ready());

    const auto one_round = [&](int round) {
        const ScopedEnvironment exit_code(L"STANDIN_LEAKCHECK_EXIT", std::to_wstring(round % 3));
        const OutputMode mode = (round % 2 == 0) ? OutputMode::Quiet : OutputMode::Shown;
        (void)run_tool(program, {"round", std::to_string(round)}, mode);
        (void)run_tool(utf8(not_a_program), {}, mode);
        (void)run_tool("autodeploy-absent-tool", {}, mode);
        run_ignoring(program, {"ignored"});
        (void)stage_file("leakcheck.txt", std::string(static_cast<std::size_t>(round) * 100, 'x'));
    };
    one_round(0);  // first use may allocate handles that live for the whole process
    const DWORD before = count_open_handles();
    for (int round = 1; round <= 12; ++round) one_round(round);
    const DWORD after = count_open_handles();
    redirected.restore();
    EXPECT_GT(before, 0u);
    EXPECT_EQ(after, before);

    // The count does move when a handle is left open, so the comparison above can fail.
    const HANDLE leaked = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const DWORD with_leak = count_open_handles();
    CloseHandle(leaked);
    EXPECT_EQ(with_leak, after + 1);
}

}  // namespace
}  // namespace autodeploy
