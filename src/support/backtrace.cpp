#include "backtrace.hpp"

namespace autodeploy {

bool backtrace_switch_on(const std::optional<std::string>& error_only, const std::optional<std::string>& general) {
    const std::optional<std::string>& decisive = error_only ? error_only : general;
    return decisive.has_value() && *decisive != "0";
}

}  // namespace autodeploy
