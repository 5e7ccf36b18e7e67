#pragma once
// autodeploy-watch.exe --load-drivers, which the WinPE launch script runs before the disk 0 guard: the drivers
// that ride the boot image (autodeploy-drivers beside the watch), loaded into the running WinPE with its own
// drvload, one line on the screen for each; a failure is shown and the others are loaded all the same. The
// tally is left beside the watch (kTallyFile, on WinPE's X: drive), for the main run to report.
#include <filesystem>
#include <string_view>

#include "reporter_win32.hpp"
#include "watch_settings.hpp"

namespace autodeploy::watch {

inline constexpr std::string_view kTallyFile = "autodeploy-drivers-loaded.txt";

// Loads the drivers under FOLDER\autodeploy-drivers (nothing, and nothing printed, when it is not there).
void load_drivers(const std::filesystem::path& folder, const Settings& settings);
// The main run: the tally that load_drivers left in FOLDER, reported; nothing when it left none.
void report_drivers_loaded(const std::filesystem::path& folder, Reporter& reporter);

}  // namespace autodeploy::watch
