#pragma once
// The main run of autodeploy-capture.exe: its settings, the one Windows to capture, room on the server, the
// share, dism's capture, the shutdown; each refusal or failure a line on the screen and a report.
#include <filesystem>

#include "watch/watch_settings.hpp"

namespace autodeploy::capture {

// Exit status: 0 captured (and the shutdown asked for), 2 no capture settings, 1 any other failure.
int run_capture(const std::filesystem::path& folder, const watch::Settings& pc);

}  // namespace autodeploy::capture
