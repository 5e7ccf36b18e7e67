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

std::string driver_loaded_line(std::string_view inf) {
    const std::string path{inf};
    return "已加载驱动：" + path + "。Driver loaded: " + path;
}

std::string driver_not_loaded_line(std::string_view inf, std::string_view why) {
    const std::string path{inf}, reason{why};
    return "驱动加载失败：" + path + "（" + reason + "）。Driver not loaded: " + path + " (" + reason + ")";
}

std::string drivers_loaded_line(DriverTally tally) {
    return "已加载驱动 " + std::to_string(tally.loaded) + " 个，共 " + std::to_string(tally.drivers) +
           " 个。Drivers loaded: " + tally_text(tally) + ".";
}

std::string adding_drivers_failed_line(std::string_view error) {
    const std::string text{error};
    return "向 Windows 添加驱动失败，本机停在这里。Adding drivers to Windows failed, this PC holds: " + text;
}

std::string cannot_start_line(std::string_view program, std::uint32_t os_error) {
    return std::string{kErrorPrefix}.append(kCannotStart) + " " + std::string{program} + " (os error " +
           std::to_string(os_error) + ")";
}

bool is_cannot_start_line(std::string_view line) {
    return line.starts_with(kErrorPrefix) && line.substr(kErrorPrefix.size()).starts_with(kCannotStart);
}

}  // namespace autodeploy::watch
