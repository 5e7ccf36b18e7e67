#include "dism_run_win32.hpp"

#include "error_relay_win32.hpp"
#include "tools/tool_runner.hpp"

namespace autodeploy::watch {

std::optional<std::string> run_dism_shown(const std::vector<std::string>& arguments) {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE), error = GetStdHandle(STD_ERROR_HANDLE);
    ErrorRelay relay(output);
    UniqueHandle pipe = relay.open();
    // run_tool gives its child this process's own standard handles: for dism they are the relay's pipe.
    if (pipe) {
        SetStdHandle(STD_OUTPUT_HANDLE, pipe.get());
        SetStdHandle(STD_ERROR_HANDLE, pipe.get());
    }
    relay.start();
    const Status done = run_tool("dism", arguments, OutputMode::Shown);
    SetStdHandle(STD_OUTPUT_HANDLE, output);
    SetStdHandle(STD_ERROR_HANDLE, error);
    pipe.reset();  // dism's copies alone keep the pipe open now
    relay.finish();
    if (done.ok()) return std::nullopt;
    const std::string dism_error = dism_error_of(relay.tail());
    return dism_error.empty() ? done.error().render() : dism_error;
}

}  // namespace autodeploy::watch
