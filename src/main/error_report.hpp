#pragma once
// The text the process entry writes to standard error when a run ends with a DeployError.
#include <string>
#include <vector>

#include "tools/deploy_error.hpp"

namespace autodeploy {

// "Error: " + the rendering + "\n"; with frames (the backtrace switch was on when the error was
// made), then a blank line, "Stack backtrace:" and one line per frame.
std::string error_report(const DeployError& error, const std::vector<std::string>& frame_lines);

}  // namespace autodeploy
