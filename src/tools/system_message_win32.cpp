#include "system_message.hpp"

#include <optional>

#include "support/backtrace.hpp"
#include "support/wide_win32.hpp"
#include "support/win32.hpp"

namespace autodeploy {

namespace {

struct MessageLookup {
    std::optional<std::string> text;  // nothing: no message, or not valid UTF-16
    DWORD error = ERROR_SUCCESS;      // FormatMessageW's own error when it found no message
};

MessageLookup format_message(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0) return {std::nullopt, GetLastError()};
    std::optional<std::string> text = narrow(std::wstring_view{buffer, length});
    LocalFree(buffer);
    if (!text) return {std::nullopt, ERROR_SUCCESS};
    return {trim_trailing_blanks(std::move(*text)), ERROR_SUCCESS};
}

}  // namespace

std::string system_error_text(std::uint32_t system_code) {
    MessageLookup lookup = format_message(system_code);
    if (lookup.text) return std::move(*lookup.text);
    if (lookup.error != ERROR_SUCCESS) return missing_message_text(system_code, lookup.error);
    return invalid_message_text(system_code);
}

DeployError file_error(std::uint32_t system_code) {
    return DeployError::file(system_code, system_error_text(system_code), capture_backtrace_if_enabled());
}

}  // namespace autodeploy
