#include "watch_lines.hpp"

#include "deployment_watch.hpp"
#include "main/error_report.hpp"

namespace autodeploy::watch {
namespace {

constexpr std::string_view kCannotStart = "cannot start";

}  // namespace

std::string starting_over_line(int attempt) {
    const std::string this_try = std::to_string(attempt), tries = std::to_string(kTries);
    return "传输中断，从头再来（第 " + this_try + " 次，共 " + tries +
           " 次）。Transfer broke off: starting over (try " + this_try + " of " + tries + ").";
}

std::string cannot_start_line(std::string_view program, std::uint32_t os_error) {
    return std::string{kErrorPrefix}.append(kCannotStart) + " " + std::string{program} + " (os error " +
           std::to_string(os_error) + ")";
}

bool is_cannot_start_line(std::string_view line) {
    return line.starts_with(kErrorPrefix) && line.substr(kErrorPrefix.size()).starts_with(kCannotStart);
}

}  // namespace autodeploy::watch
