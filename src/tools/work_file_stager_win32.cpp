#include "work_file_stager.hpp"

#include <algorithm>

#include "support/backtrace.hpp"
#include "support/grow_buffer_win32.hpp"
#include "support/unique_handle_win32.hpp"
#include "support/wide_win32.hpp"
#include "system_message.hpp"

namespace autodeploy {

namespace {

using GetTempPath2WFn = DWORD(WINAPI*)(DWORD, LPWSTR);

// Newer systems have GetTempPath2W (which also serves SYSTEM's own temp directory); looked up
// once by name so the program still starts where kernel32 lacks it.
GetTempPath2WFn temp_path2() {
    static const GetTempPath2WFn function = reinterpret_cast<GetTempPath2WFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
    return function;
}

bool is_separator(char c) { return c == '\\' || c == '/'; }

// Empties an existing file in place, so that its attributes stay as they were.
bool truncate(HANDLE file) {
    FILE_ALLOCATION_INFO allocation{};
    if (SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation)) return true;
    FILE_END_OF_FILE_INFO end_of_file{};
    return SetFileInformationByHandle(file, FileEndOfFileInfo, &end_of_file, sizeof end_of_file) != FALSE;
}

Status write_all(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 0xFFFFFFFFu));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return file_error(GetLastError());
        if (written == 0) return DeployError::file_text("failed to write whole buffer", capture_backtrace_if_enabled());
        bytes.remove_prefix(written);
    }
    return {};
}

// The temporary directory as the platform reports it (with its trailing separator).
Result<std::string> temporary_directory() {
    const GetTempPath2WFn path2 = temp_path2();
    const GrownText found = fill_growing([&](wchar_t* buffer, DWORD capacity) {
        return path2 ? path2(capacity, buffer) : GetTempPathW(capacity, buffer);
    });
    if (found.error != ERROR_SUCCESS) return file_error(found.error);
    std::optional<std::string> directory = narrow(found.text);
    if (!directory) return file_error(ERROR_NO_UNICODE_TRANSLATION);
    return std::move(*directory);
}

}  // namespace

Result<std::string> stage_file(std::string_view file_name, std::string_view bytes) {
    Result<std::string> directory = temporary_directory();
    if (!directory.ok()) return std::move(directory).error();
    std::string path = std::move(directory).value();
    if (!path.empty() && !is_separator(path.back())) path.push_back('\\');
    path.append(file_name);

    UniqueHandle file{CreateFileW(widen(path).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!file) return file_error(GetLastError());
    if (GetLastError() == ERROR_ALREADY_EXISTS && !truncate(file.get())) return file_error(GetLastError());
    if (Status written = write_all(file.get(), bytes); !written.ok()) return std::move(written).error();
    return path;
}

}  // namespace autodeploy
