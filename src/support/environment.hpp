#pragma once
// Reading this process's environment variables (Win32).
#include <optional>
#include <string>

namespace autodeploy {

// The variable's value as the system holds it, in UTF-16; nothing when it is unset.
std::optional<std::wstring> environment_variable_utf16(const wchar_t* name);

// The variable's value in UTF-8; nothing when it is unset or not valid Unicode text.
std::optional<std::string> environment_variable(const wchar_t* name);

}  // namespace autodeploy
