#include "child_start_win32.hpp"

namespace autodeploy::watch {

UniqueHandle inheritable(HANDLE handle) {
    HANDLE copy = nullptr;
    if (UniqueHandle::is_valid(handle)) {
        DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS);
    }
    return UniqueHandle{copy};
}

Started start_child(const std::wstring& program, UniqueHandle error) {
    const UniqueHandle input = inheritable(GetStdHandle(STD_INPUT_HANDLE));
    const UniqueHandle output = inheritable(GetStdHandle(STD_OUTPUT_HANDLE));
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
    return {ChildProcess{UniqueHandle{started.hProcess}, UniqueHandle{started.hThread}}, started.dwProcessId, 0};
}

}  // namespace autodeploy::watch
