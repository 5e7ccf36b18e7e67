#include "autodeploy_run_win32.hpp"

#include "support/win32.hpp"
// After <windows.h>, which it needs.
#include <tlhelp32.h>

#include <algorithm>
#include <optional>

#include "main/deployment_driver.hpp"
#include "support/unique_handle_win32.hpp"
#include "support/wide_win32.hpp"

namespace autodeploy::watch {
namespace {

constexpr DWORD kLookEvery = 250;  // milliseconds
constexpr std::string_view kErrorPrefix = "Error: ";

double seconds_now() { return static_cast<double>(GetTickCount64()) / 1000.0; }

// The size of the image as its file system has it now (a directory entry lags behind a file being
// written), or nothing.
std::optional<std::uint64_t> image_size() {
    const UniqueHandle file{CreateFileW(widen(kImagePath).c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        0, nullptr)};
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.get(), &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

struct Child {
    DWORD pid = 0;
    Tool tool = Tool::None;
};

// The child of PARENT that runs now (autodeploy runs one at a time).
Child child_of(DWORD parent) {
    const UniqueHandle snapshot{CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)};
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    Child found;
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == parent && found.tool == Tool::None) {
            found = {entry.th32ProcessID, tool_of(narrow(entry.szExeFile).value_or(""))};
        }
    }
    return found;
}

// The last "Error: " line on the console's screen, with the rows it wrapped onto, up to the cursor.
std::string error_on_screen(HANDLE console) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(console, &info)) return {};
    const auto width = static_cast<std::size_t>(info.dwSize.X);
    std::string line;
    bool full = false;  // the row before was filled to its end: the text wrapped onto this one
    for (int row = std::max(0, info.dwCursorPosition.Y - 8); row <= info.dwCursorPosition.Y; ++row) {
        std::wstring cells(width, L' ');
        DWORD read = 0;
        ReadConsoleOutputCharacterW(console, cells.data(), static_cast<DWORD>(width), COORD{0, static_cast<SHORT>(row)},
                                    &read);
        cells.resize(read);
        const bool filled = !cells.empty() && cells.back() != L' ';
        cells.erase(cells.find_last_not_of(L' ') + 1);
        const std::string text = narrow(cells).value_or("");
        if (text.starts_with(kErrorPrefix)) {
            line = text;
        } else if (full && !line.empty()) {
            line += text;
        }
        full = filled && !line.empty();
    }
    return line;
}

// Passes a pipe's bytes on to OUT unchanged, and keeps the last "Error: " line.
struct ErrorRelay {
    UniqueHandle pipe;
    HANDLE out = nullptr;
    std::string line, error;

    void run() {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(pipe.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
            DWORD written = 0;
            if (UniqueHandle::is_valid(out)) WriteFile(out, buffer, got, &written, nullptr);
            for (DWORD i = 0; i < got; ++i) {
                if (buffer[i] == '\n' || buffer[i] == '\r') {
                    if (line.starts_with(kErrorPrefix)) error = line;
                    line.clear();
                } else {
                    line += buffer[i];
                }
            }
        }
        if (line.starts_with(kErrorPrefix)) error = line;
    }
};

HANDLE inheritable(HANDLE handle) {
    HANDLE copy = nullptr;
    if (UniqueHandle::is_valid(handle)) {
        DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS);
    }
    return copy;
}

struct Started {
    std::optional<ChildProcess> child;
    DWORD pid = 0, error = 0;  // error: why it could not be started
};

// PROGRAM started with this process's standard handles; on a console its standard error too, elsewhere
// into a pipe whose reading end goes to RELAY.
Started start_child(const std::wstring& program, bool console, ErrorRelay& relay) {
    UniqueHandle input{inheritable(GetStdHandle(STD_INPUT_HANDLE))};
    UniqueHandle output{inheritable(GetStdHandle(STD_OUTPUT_HANDLE))};
    UniqueHandle error;
    if (console) {
        error.reset(inheritable(relay.out));
    } else {
        SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
        HANDLE read = nullptr, write = nullptr;
        if (CreatePipe(&read, &write, &attributes, 0)) {
            relay.pipe.reset(read);
            error.reset(write);
            SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
        }
    }
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = input.get();
    start.hStdOutput = output.get();
    start.hStdError = error.get();
    PROCESS_INFORMATION started{};
    std::wstring command_line = L"\"" + program + L"\"";
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                        &started)) {
        return {std::nullopt, 0, GetLastError()};
    }
    // The handles given to the child close here: only the child writes into the pipe now.
    return {ChildProcess{UniqueHandle{started.hProcess}, UniqueHandle{started.hThread}}, started.dwProcessId, 0};
}

// Watches autodeploy (process PID) until it ends: which of its children runs, how the image grows, how
// the receiver ends; ends the receiver when the watch says so, and calls APPLIED once dism has ended well.
void watch_until_ended(const ChildProcess& child, DWORD pid, DeploymentWatch& watch, Reporter& reporter,
                       const std::function<void()>& applied) {
    UniqueHandle receiver;
    DWORD receiver_pid = 0;
    // dism, while it runs: the moment it ends well is the one to write the answer file, long before the
    // restart, whatever the next look would see.
    UniqueHandle image_tool;
    DWORD image_pid = 0;
    const auto receiver_done = [&] {
        DWORD code = 0;
        if (receiver && WaitForSingleObject(receiver.get(), 0) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(receiver.get(), &code)) {
            watch.receiver_ended(code);
            receiver.reset();
        }
    };
    for (;;) {
        const HANDLE ends[] = {child.process.get(), image_tool.get()};
        const DWORD woke = WaitForMultipleObjects(image_tool ? 2 : 1, ends, FALSE, kLookEvery);
        if (woke == WAIT_OBJECT_0 + 1) {
            DWORD code = 1;
            if (GetExitCodeProcess(image_tool.get(), &code) && code == 0) applied();
            image_tool.reset();
        } else if (woke != WAIT_TIMEOUT) {
            break;
        }
        const Child running = child_of(pid);
        if (running.tool == Tool::Image && running.pid != image_pid) {
            image_pid = running.pid;
            image_tool.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, running.pid));
        }
        if (running.tool == Tool::Receiver && running.pid != receiver_pid) {
            receiver_pid = running.pid;
            receiver.reset(
                OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, running.pid));
        }
        receiver_done();
        const DeploymentWatch::Step step = watch.observe(seconds_now(), running.tool, image_size());
        for (const Report& report : step.reports) reporter.send(report);
        if (step.end_receiver && receiver) TerminateProcess(receiver.get(), 1);
        // Only when dism was too short to be seen: the next tool says it has ended.
        if (step.write_answer_file) applied();
    }
    if (receiver) WaitForSingleObject(receiver.get(), 5000);
    receiver_done();
}

}  // namespace

RunOutcome run_autodeploy(const std::wstring& program, DeploymentWatch& watch, Reporter& reporter,
                          const std::function<void()>& applied) {
    const HANDLE own_error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    const bool console = GetConsoleMode(own_error, &mode) != 0;
    ErrorRelay relay{{}, own_error, {}, {}};
    const Started started = start_child(program, console, relay);
    if (!started.child)
        return {1, "Error: cannot start " + narrow(program).value_or("autodeploy.exe") + " (os error " +
                       std::to_string(started.error) + ")"};
    // A thread of the system's own, so that a read that a lingering grandchild keeps open can be cancelled.
    const UniqueHandle relaying{relay.pipe ? CreateThread(
                                                 nullptr, 0,
                                                 [](void* it) -> DWORD {
                                                     static_cast<ErrorRelay*>(it)->run();
                                                     return 0;
                                                 },
                                                 &relay, 0, nullptr)
                                           : nullptr};
    watch_until_ended(*started.child, started.pid, watch, reporter, applied);
    DWORD exit = 1;
    GetExitCodeProcess(started.child->process.get(), &exit);
    if (relaying && WaitForSingleObject(relaying.get(), 3000) == WAIT_TIMEOUT) {
        CancelSynchronousIo(relaying.get());
        WaitForSingleObject(relaying.get(), INFINITE);
    }
    return {exit, console ? error_on_screen(own_error) : relay.error};
}

}  // namespace autodeploy::watch
