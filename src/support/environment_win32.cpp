#include "environment.hpp"

#include "grow_buffer_win32.hpp"
#include "wide_win32.hpp"

namespace autodeploy {

std::optional<std::wstring> environment_variable_utf16(const wchar_t* name) {
    GrownText value = fill_growing(
        [&](wchar_t* buffer, DWORD capacity) { return GetEnvironmentVariableW(name, buffer, capacity); },
        /*zero_is_empty=*/true);
    if (value.error != ERROR_SUCCESS) return std::nullopt;  // ERROR_ENVVAR_NOT_FOUND: unset
    return std::move(value.text);
}

std::optional<std::string> environment_variable(const wchar_t* name) {
    const std::optional<std::wstring> value = environment_variable_utf16(name);
    return value ? narrow(*value) : std::nullopt;
}

}  // namespace autodeploy
