#pragma once
#include <string_view>

namespace autodeploy {

// For faults no input should reach: says so on standard error and ends the process with 101.
[[noreturn]] void internal_fault(std::string_view what);

}  // namespace autodeploy
