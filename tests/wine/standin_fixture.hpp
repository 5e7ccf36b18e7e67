#pragma once
// What the Wine tests that run the stand-in tool (tests/standin) share: where it is, a scratch
// directory, environment variables set for a scope, whole files and the system's messages.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/environment.hpp"
#include "support/wide_win32.hpp"
#include "support/win32.hpp"

namespace standin_test {

inline std::string utf8(std::wstring_view text) { return autodeploy::narrow(text).value_or("<invalid UTF-16>"); }

// The build puts standin.exe beside the test programs.
inline std::wstring own_directory() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L'\\') + 1);
}
inline std::wstring standin_path() { return own_directory() + L"standin.exe"; }

inline std::optional<std::string> read_file(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), {});
}
inline void write_file(const std::wstring& path, std::string_view bytes) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
}

// The system's own text for a code, as the program should quote it: Wine's wording is not Windows'.
inline std::string system_message(DWORD code) {
    wchar_t text[1024];
    const std::wstring message(text, FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                                    code, 0, text, 1024, nullptr));
    return utf8(message.substr(0, message.find_last_not_of(L" \t\r\n") + 1));
}

// A fresh directory under the temporary directory, removed with its contents. The name differs
// between processes and runs: all tests share one Wine prefix.
struct ScratchDirectory {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 (L"autodeploy-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(GetTickCount64()));
    ScratchDirectory() { std::filesystem::create_directories(path); }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::wstring operator/(std::wstring_view name) const { return (path / name).wstring(); }
    // A subdirectory, created, with a trailing backslash.
    std::wstring directory(std::wstring_view name) const {
        std::filesystem::create_directory(path / name);
        return *this / name + L"\\";
    }
};

// Environment variables set (or, without a value, removed) until the end of the scope; children
// started meanwhile inherit them.
using Variables = std::vector<std::pair<std::wstring, std::optional<std::wstring>>>;
struct ScopedEnvironment {
    Variables saved;
    static void set(const std::wstring& name, const std::optional<std::wstring>& value) {
        SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
    }
    explicit ScopedEnvironment(const Variables& variables) {
        for (const auto& [name, value] : variables) {
            saved.emplace_back(name, autodeploy::environment_variable_utf16(name.c_str()));
            set(name, value);
        }
    }
    ~ScopedEnvironment() {
        for (auto it = saved.rbegin(); it != saved.rend(); ++it) set(it->first, it->second);
    }
};

}  // namespace standin_test
