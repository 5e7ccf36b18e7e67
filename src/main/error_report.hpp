#pragma once
// The text the process entry writes to standard error when a run ends with a DeployError.
#include <string>
#include <string_view>
#include <vector>

#include "tools/deploy_error.hpp"

namespace autodeploy {

// How the line begins; the watch knows autodeploy's failure by it (watch/error_line.hpp).
inline constexpr std::string_view kErrorPrefix = "Error: ";

// kErrorPrefix + the rendering + "\n"; with frames (the backtrace switch was on when the error was
// made), then a blank line, "Stack backtrace:" and one line per frame.
std::string error_report(const DeployError& error, const std::vector<std::string>& frame_lines);

}  // namespace autodeploy
