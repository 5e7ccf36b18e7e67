#include "driver_add_win32.hpp"

#include "driver_folders_win32.hpp"
#include "error_line.hpp"
#include "error_relay_win32.hpp"
#include "support/console_writer.hpp"
#include "tools/tool_runner.hpp"
#include "watch_lines.hpp"

namespace autodeploy::watch {
namespace {

constexpr std::wstring_view kApplied = L"C:\\autodeploy-drivers";

// dism /Add-Driver for FOLDER; its output shown as it comes. Its Error line (else how it failed) when it fails.
std::optional<std::string> add_folder(const std::filesystem::path& folder) {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE), error = GetStdHandle(STD_ERROR_HANDLE);
    ErrorRelay relay(output);
    UniqueHandle pipe = relay.open();
    // run_tool gives its child this process's own standard handles: for dism they are the relay's pipe.
    if (pipe) {
        SetStdHandle(STD_OUTPUT_HANDLE, pipe.get());
        SetStdHandle(STD_ERROR_HANDLE, pipe.get());
    }
    relay.start();
    const Status added = run_tool("dism", {"/Image:C:\\", "/Add-Driver", "/Driver:" + utf8_of(folder), "/Recurse"},
                                  OutputMode::Shown);
    SetStdHandle(STD_OUTPUT_HANDLE, output);
    SetStdHandle(STD_ERROR_HANDLE, error);
    pipe.reset();  // dism's copies alone keep the pipe open now
    relay.finish();
    if (added.ok()) return std::nullopt;
    const std::string dism_error = dism_error_of(relay.tail());
    return dism_error.empty() ? added.error().render() : dism_error;
}

}  // namespace

std::optional<std::string> DriverAdding::applied(Reporter& reporter) {
    const std::filesystem::path root{kApplied};
    std::error_code error;
    if (done_ || !std::filesystem::is_directory(root, error)) return std::nullopt;
    done_ = true;
    Report added(Stage::DriversAdded);
    for (const std::filesystem::path& folder : driver_folders(root, settings_)) {
        if (const std::optional<std::string> failed = add_folder(folder)) {
            const std::string reported = "adding drivers: " + *failed;
            (void)write_text(StandardStream::Error, adding_drivers_failed_line(reported) + "\n");
            return reported;
        }
        added.tally.drivers += static_cast<unsigned>(inf_files(folder).size());
    }
    reporter.send(added);
    std::filesystem::remove_all(root, error);
    return std::nullopt;
}

}  // namespace autodeploy::watch
