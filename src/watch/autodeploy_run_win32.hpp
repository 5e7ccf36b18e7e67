#pragma once
// One run of autodeploy.exe under the watch: a child of this console, seen four times a second (which
// of its children runs, how big C:\system.wim is), its receiver ended when the watch says so. The PC's
// screen shows what autodeploy shows: on a console nothing is taken from it, and autodeploy's Error line
// is read back from the screen; elsewhere (the tests' files) its standard error passes through here
// unchanged and the line is taken on the way.
#include <cstdint>
#include <functional>
#include <string>

#include "deployment_watch.hpp"
#include "reporter_win32.hpp"

namespace autodeploy::watch {

struct RunOutcome {
    std::uint32_t exit;
    std::string error;  // autodeploy's last "Error: " line, or why it could not be started
};

// APPLIED: called when dism has applied the image (as it ends well, or else as the next tool starts),
// before the restart; it may be called more than once.
RunOutcome run_autodeploy(const std::wstring& program, DeploymentWatch& watch, Reporter& reporter,
                          const std::function<void()>& applied);

}  // namespace autodeploy::watch
