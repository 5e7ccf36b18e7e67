#pragma once
// Texts for system error codes, and the file errors built from them (Win32).
#include <cstdint>
#include <string>

#include "deploy_error.hpp"

namespace autodeploy {

// The system's message for a system error code, trailing blanks removed; when the system has
// none, "OS Error N (FormatMessageW() returned error M)" or "... returned invalid UTF-16)".
std::string system_error_text(std::uint32_t system_code);

// A file error for a system error code, with its message and, if switched on, a backtrace.
DeployError file_error(std::uint32_t system_code);

}  // namespace autodeploy
