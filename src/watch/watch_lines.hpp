#pragma once
// Every line the watch itself prints on the PC's screen, without a line end; autodeploy's own lines pass
// through unchanged.
#include <cstdint>
#include <string>
#include <string_view>

#include "driver_choice.hpp"

namespace autodeploy::watch {

// A transfer broke off and try ATTEMPT (of kTries) begins: Chinese, then English.
std::string starting_over_line(int attempt);

// WinPE's drvload loaded the driver of INF (a path), or did not (WHY: its failure): Chinese, then English.
std::string driver_loaded_line(std::string_view inf);
std::string driver_not_loaded_line(std::string_view inf, std::string_view why);
// After the last of them: how many were loaded.
std::string drivers_loaded_line(DriverTally tally);
// dism could not add the drivers to the applied Windows (ERROR: what is reported, "adding drivers: ...").
std::string adding_drivers_failed_line(std::string_view error);

// autodeploy could not be started: an Error line of autodeploy's own form, also the one reported.
std::string cannot_start_line(std::string_view program, std::uint32_t os_error);
// Whether a failed run's Error line is that one, which only the watch can show.
bool is_cannot_start_line(std::string_view line);

}  // namespace autodeploy::watch
