#include "driver_add_win32.hpp"

#include "dism_run_win32.hpp"
#include "driver_folders_win32.hpp"
#include "support/console_writer.hpp"
#include "watch_lines.hpp"

namespace autodeploy::watch {
namespace {

constexpr std::wstring_view kApplied = L"C:\\autodeploy-drivers";

// dism /Add-Driver for FOLDER; its output shown as it comes. Its Error line (else how it failed) when it fails.
std::optional<std::string> add_folder(const std::filesystem::path& folder) {
    return run_dism_shown({"/Image:C:\\", "/Add-Driver", "/Driver:" + utf8_of(folder), "/Recurse"});
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
