#pragma once
// One run of autodeploy.exe under the watch: a child of this console, seen four times a second (which
// of its children runs, how big C:\system.wim is), its receiver ended when the watch says so. The PC's
// screen shows what autodeploy shows: on a console nothing is taken from it, and autodeploy's Error line
// is read back from the screen; elsewhere (the tests' files) its standard error passes through here
// unchanged and the line is taken on the way.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "deployment_watch.hpp"
#include "reporter_win32.hpp"

namespace autodeploy::watch {

struct RunOutcome {
    std::uint32_t exit;
    std::string error;  // autodeploy's last "Error: " line, or why it could not be started
};

// What follows a good apply; the PC's failure when it fails.
using Applied = std::function<std::optional<std::string>()>;

// APPLIED: called when dism has applied the image (as it ends well, or else as the next tool starts), while
// autodeploy is held (its thread suspended from the moment dism is seen until APPLIED returns: it only waits
// for its child then); it may be called more than once. When it fails, autodeploy is ended and the run's
// outcome is exit 1 with APPLIED's failure as its error.
RunOutcome run_autodeploy(const std::wstring& program, DeploymentWatch& watch, Reporter& reporter,
                          const Applied& applied);

}  // namespace autodeploy::watch
