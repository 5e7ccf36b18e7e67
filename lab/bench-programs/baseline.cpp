// The floor for a deployment run: start the same six stand-in tools in the same order, with the
// same standard handles, and wait for each; nothing else. Run from the directory that holds
// them and the staged receiver (its path is the only argument).
#include <string>

#include "support/win32.hpp"

namespace {

// Started by full path, as autodeploy.exe starts the tools it has found.
DWORD run(const std::wstring& program, std::wstring command_line, bool quiet) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE null_device = CreateFileW(L"\\\\.\\NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                     OPEN_EXISTING, 0, nullptr);
    HANDLE input = nullptr, output = nullptr, error = nullptr;
    const HANDLE self = GetCurrentProcess();
    DuplicateHandle(self, GetStdHandle(STD_INPUT_HANDLE), self, &input, 0, TRUE, DUPLICATE_SAME_ACCESS);
    DuplicateHandle(self, quiet ? null_device : GetStdHandle(STD_OUTPUT_HANDLE), self, &output, 0, TRUE,
                    DUPLICATE_SAME_ACCESS);
    DuplicateHandle(self, quiet ? null_device : GetStdHandle(STD_ERROR_HANDLE), self, &error, 0, TRUE,
                    DUPLICATE_SAME_ACCESS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = error;
    PROCESS_INFORMATION process{};
    DWORD code = 1;
    if (CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                       nullptr, nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    for (HANDLE handle : {input, output, error, null_device}) {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    const std::wstring receiver = argv[1];
    wchar_t own[MAX_PATH];
    const std::wstring path(own, GetModuleFileNameW(nullptr, own, MAX_PATH));
    const std::wstring directory = path.substr(0, path.find_last_of(L'\\') + 1);
    const std::wstring wpeutil = directory + L"wpeutil.exe";
    run(wpeutil, L"\"wpeutil\" UpdateBootInfo", false);
    DWORD failed = run(directory + L"diskpart.exe", L"\"diskpart\" /s prep_disk.txt", true);
    failed |= run(receiver, L"\"" + receiver + L"\" --file C:\\system.wim --nokbd", false);
    failed |= run(directory + L"dism.exe", L"\"dism\" /Apply-Image /ImageFile:C:\\system.wim /Index:1 /ApplyDir:C:\\",
                  false);
    failed |= run(directory + L"bcdboot.exe", L"\"bcdboot\" C:\\Windows /s S: /f UEFI", true);
    failed |= run(wpeutil, L"\"wpeutil\" reboot", true);
    return failed == 0 ? 0 : 1;
}
