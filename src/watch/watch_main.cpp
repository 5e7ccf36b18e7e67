// autodeploy-watch: run by the WinPE launch script after the disk 0 guard, with the guard's exit status
// as its argument. It reports the guard's verdict, starts autodeploy.exe (beside it) and watches it:
// each stage goes to the room server named in autodeploy-server.txt (without that file, nothing is
// reported); a receiver whose image stands still for the stall time is ended; after a transfer that broke
// off, autodeploy starts over (three tries). Exit status: the guard's when it refused, else autodeploy's
// last, so that the launch script holds the PC on a failure as before.
#include "beside_win32.hpp"
#include "watch_run_win32.hpp"

int wmain(int argc, wchar_t** argv) {
    using namespace autodeploy::watch;
    const std::filesystem::path folder = own_folder();
    const Settings settings = settings_beside(folder);
    Reporter reporter(settings);
    if (const std::optional<int> refused = guard_refusal(argc > 1 ? argv[1] : nullptr, reporter)) return *refused;
    AnswerFile answer(settings, folder);
    return run_tries(folder / L"autodeploy.exe", settings.stall, answer, reporter);
}
