#pragma once
// Shared pieces of the Wine tests that run the stand-in tool (tests/standin): where it is, scratch
// directories, temporarily changed environment variables and whole-file reads and writes.
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "support/wide.hpp"
#include "support/win32.hpp"

namespace standin_test {

// This test program's own directory, with a trailing backslash; the build puts standin.exe there.
inline std::wstring own_directory() {
    std::wstring path(32768, L'\0');  // the longest path there is
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

inline std::wstring standin_path() { return own_directory() + L"standin.exe"; }

inline std::string utf8(std::wstring_view text) { return autodeploy::narrow(text).value_or("<invalid UTF-16>"); }
inline std::wstring wide(std::string_view text) { return autodeploy::widen(text); }

// A name no earlier or parallel run has used: tests share one Wine prefix and its directories.
inline std::wstring unique_name(std::wstring_view stem) {
    static unsigned counter = 0;
    return std::wstring(stem) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetTickCount64() % 100000) + L"-" + std::to_wstring(++counter);
}

inline std::optional<std::string> read_file(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

inline bool write_file(const std::wstring& path, std::string_view bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool whole = bytes.empty() ||
                       (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                        written == bytes.size());
    CloseHandle(file);
    return whole;
}

inline bool file_exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Removes a file even when it is read-only, hidden or a system file.
inline void remove_file(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

inline void remove_tree(const std::wstring& directory) {
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = directory + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(path);
            } else {
                remove_file(path);
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(directory.c_str());
}

// The system's own text for a system error code, as the code under test should quote it: Wine's
// wording differs from Windows', so expected texts are built from this, never written out.
inline std::string system_message(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text, length);
    LocalFree(text);
    return utf8(message.substr(0, message.find_last_not_of(L" \t\r\n") + 1));
}

// A fresh directory under the real temporary directory, removed with everything in it.
class ScratchDirectory {
public:
    explicit ScratchDirectory(std::wstring_view stem = L"autodeploy-test") {
        wchar_t temp[MAX_PATH + 1];
        const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
        path_ = std::wstring(temp, length) + unique_name(stem);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    ~ScratchDirectory() { remove_tree(path_); }

    // Without a trailing backslash.
    const std::wstring& path() const { return path_; }
    std::wstring operator/(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }

    // A subdirectory (created) by name.
    std::wstring make_directory(std::wstring_view name) const {
        const std::wstring directory = *this / name;
        CreateDirectoryW(directory.c_str(), nullptr);
        return directory;
    }

private:
    std::wstring path_;
};

// Sets (or with nothing, removes) an environment variable of this process until the end of the
// scope; children started meanwhile inherit it.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::wstring name, std::optional<std::wstring> value) : name_(std::move(name)) {
        std::wstring old(32767, L'\0');
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(name_.c_str(), old.data(), static_cast<DWORD>(old.size()));
        if (length != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
            old.resize(length);
            previous_ = std::move(old);
        }
        SetEnvironmentVariableW(name_.c_str(), value ? value->c_str() : nullptr);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() { SetEnvironmentVariableW(name_.c_str(), previous_ ? previous_->c_str() : nullptr); }

private:
    std::wstring name_;
    std::optional<std::wstring> previous_;
};

}  // namespace standin_test
