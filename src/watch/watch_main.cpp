// autodeploy-watch: run by the WinPE launch script after the disk 0 guard, with the guard's exit status
// as its argument. It reports the guard's verdict, starts autodeploy.exe (beside it) and watches it:
// each stage goes to the room server named in autodeploy-server.txt (without that file, nothing is
// reported); a receiver whose image stands still for the stall time is ended; after a transfer that broke
// off, autodeploy starts over (three tries); once dism has applied the image, autodeploy is held while the
// drivers that ride it are added and the answer file is written. Exit status: the guard's when it refused,
// else autodeploy's last (1 when the drivers could not be added), so that the launch script holds the PC on a
// failure as before. Run before the guard with --load-drivers, it loads the drivers that ride the boot
// image into WinPE (driver_load_win32.hpp), and its main run reports how many before the guard's verdict.
#include <string_view>

#include "beside_win32.hpp"
#include "driver_load_win32.hpp"
#include "firmware_names_win32.hpp"
#include "watch_run_win32.hpp"

int wmain(int argc, wchar_t** argv) {
    using namespace autodeploy::watch;
    const std::filesystem::path folder = own_folder();
    Settings settings = settings_beside(folder);
    read_firmware_names(settings);
    if (argc > 1 && std::wstring_view(argv[1]) == L"--load-drivers") {
        load_drivers(folder, settings);
        return 0;
    }
    Reporter reporter(settings);
    report_drivers_loaded(folder, reporter);
    if (const std::optional<int> refused = guard_refusal(argc > 1 ? argv[1] : nullptr, reporter)) return *refused;
    AnswerFile answer(settings, folder);
    DriverAdding drivers(settings);
    return run_tries(folder / L"autodeploy.exe", settings.stall, drivers, answer, reporter);
}
