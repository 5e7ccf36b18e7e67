#include "environment.hpp"

#include "grow_buffer.hpp"
#include "wide.hpp"

namespace autodeploy {

std::optional<std::string> environment_variable(const wchar_t* name) {
    const GrownText value = fill_growing(
        [&](wchar_t* buffer, DWORD capacity) { return GetEnvironmentVariableW(name, buffer, capacity); },
        /*zero_is_empty=*/true);
    if (value.error != ERROR_SUCCESS) return std::nullopt;  // ERROR_ENVVAR_NOT_FOUND: unset
    return narrow(value.text);
}

}  // namespace autodeploy
