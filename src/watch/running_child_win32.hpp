#pragma once
// Which of autodeploy's children runs now, from a snapshot of the system's processes (autodeploy runs
// one at a time).
#include "deployment_watch.hpp"
#include "support/win32.hpp"

namespace autodeploy::watch {

struct RunningChild {
    DWORD pid = 0;
    Tool tool = Tool::None;
};

RunningChild running_child(DWORD parent);

}  // namespace autodeploy::watch
