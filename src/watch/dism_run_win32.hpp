#pragma once
// dism run with its output on the screen as it comes, read on the way for its own Error line: the watch's
// /Add-Driver and the capture's /Capture-Image.
#include <optional>
#include <string>
#include <vector>

namespace autodeploy::watch {

// Runs dism with ARGUMENTS; nothing when it succeeds, else its Error line ("Error: N (message)"), or how it
// failed when it printed none.
std::optional<std::string> run_dism_shown(const std::vector<std::string>& arguments);

}  // namespace autodeploy::watch
