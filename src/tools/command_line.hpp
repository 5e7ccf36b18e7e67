#pragma once
// Builds a Windows command line that the C runtime and CommandLineToArgvW split back into
// exactly the arguments given.
#include <string>
#include <string_view>
#include <vector>

namespace autodeploy {

// Quotes when empty or holding a space or tab. n backslashes before a quote become 2n+1 and the
// quote; a quoted argument's trailing backslashes are doubled; other backslashes stay as they are.
void append_argument(std::string& command_line, std::string_view argument);

// The program text exactly as given, in double quotes, then each argument after one space.
std::string build_command_line(std::string_view program, const std::vector<std::string>& arguments);

}  // namespace autodeploy
