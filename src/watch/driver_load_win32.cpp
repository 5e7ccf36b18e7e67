#include "driver_load_win32.hpp"

#include <fstream>

#include "beside_win32.hpp"
#include "driver_choice.hpp"
#include "driver_folders_win32.hpp"
#include "support/console_writer.hpp"
#include "tools/tool_runner.hpp"
#include "watch_lines.hpp"

namespace autodeploy::watch {
void load_drivers(const std::filesystem::path& folder, const Settings& settings) {
    const std::filesystem::path root = folder / L"autodeploy-drivers";
    std::error_code error;
    if (!std::filesystem::is_directory(root, error)) return;
    DriverTally tally;
    for (const std::filesystem::path& drivers : driver_folders(root, settings)) {
        for (const std::filesystem::path& inf : inf_files(drivers)) {
            ++tally.drivers;
            // WinPE's own drvload, found as autodeploy finds its tools (System32 first); its lines are shown.
            const std::string path = utf8_of(inf);
            const Status loaded = run_tool("drvload", {path}, OutputMode::Shown);
            if (loaded.ok()) ++tally.loaded;
            const std::string line = loaded.ok() ? driver_loaded_line(path)
                                                 : driver_not_loaded_line(path, loaded.error().render());
            (void)write_text(StandardStream::Output, line + "\n");
        }
    }
    (void)write_text(StandardStream::Output, drivers_loaded_line(tally) + "\n");
    std::ofstream(folder / kTallyFile, std::ios::binary) << tally_text(tally) << '\n';
}

void report_drivers_loaded(const std::filesystem::path& folder, Reporter& reporter) {
    if (const std::optional<DriverTally> tally = read_tally(read_beside(folder, kTallyFile))) {
        Report loaded(Stage::DriversLoaded);
        loaded.tally = *tally;
        reporter.send(loaded);
    }
}

}  // namespace autodeploy::watch
