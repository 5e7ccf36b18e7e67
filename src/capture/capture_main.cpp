// autodeploy-capture: run by the capture WinPE's launch script. It finds this PC's one Windows (generalized
// unless the settings say otherwise), captures it with dism into a file on the room server's share, reports
// each step to the room server, and shuts the PC down; it never wipes or writes a disk of the PC. Its settings
// are in autodeploy-server.txt beside it (capture_settings.hpp), or come from the room server. Run first with
// --load-drivers, it loads the drivers that ride the boot image, exactly as the watch does.
#include <string_view>

#include "capture_run_win32.hpp"
#include "watch/beside_win32.hpp"
#include "watch/driver_load_win32.hpp"
#include "watch/firmware_names_win32.hpp"

int wmain(int argc, wchar_t** argv) {
    using namespace autodeploy;
    const std::filesystem::path folder = watch::own_folder();
    watch::Settings pc = watch::settings_beside(folder);
    watch::read_firmware_names(pc);
    if (argc > 1 && std::wstring_view(argv[1]) == L"--load-drivers") {
        watch::load_drivers(folder, pc);
        return 0;
    }
    return capture::run_capture(folder, pc);
}
