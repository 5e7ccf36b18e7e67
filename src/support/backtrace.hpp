#pragma once
// Optional stack traces for errors. The switch is two environment variables read whenever an
// error is made: AUTODEPLOY_ERROR_BACKTRACE, when set, decides alone; otherwise
// AUTODEPLOY_BACKTRACE. A set value other than "0" turns traces on.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace autodeploy {

// Return addresses captured where an error was made, when the switch was on.
using Backtrace = std::vector<const void*>;

bool backtrace_switch_on(const std::optional<std::string>& error_only, const std::optional<std::string>& general);

// The caller's frames when the switch is on, else nothing.
Backtrace capture_backtrace_if_enabled();

// One line per frame: "   N: module.exe+0x1a2b", or the bare address outside any module.
std::vector<std::string> describe_frames(const Backtrace& trace);

}  // namespace autodeploy
