#pragma once
// Reading this process's environment variables (Win32).
#include <optional>
#include <string>

namespace autodeploy {

// The variable's value in UTF-8; nothing when it is unset or not valid Unicode text.
std::optional<std::string> environment_variable(const wchar_t* name);

}  // namespace autodeploy
