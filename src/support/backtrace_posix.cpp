#include "backtrace.hpp"

namespace autodeploy {

// The native build only tests the portable core; traces are a Windows feature.
Backtrace capture_backtrace_if_enabled() { return {}; }

std::vector<std::string> describe_frames(const Backtrace&) { return {}; }

}  // namespace autodeploy
