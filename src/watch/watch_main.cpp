// autodeploy-watch: run by the WinPE launch script after the disk 0 guard, with the guard's exit status
// as its argument. It reports the guard's verdict, starts autodeploy.exe (beside it) and watches it:
// each stage goes to the room server named in autodeploy-server.txt (without that file, nothing is
// reported); a receiver whose image stands still for the stall time is ended; after a transfer that broke
// off, autodeploy starts over (three tries). Exit status: the guard's when it refused, else autodeploy's
// last, so that the launch script holds the PC on a failure as before.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "autodeploy_run_win32.hpp"
#include "report_request.hpp"
#include "reporter_win32.hpp"
#include "support/console_writer.hpp"
#include "support/grow_buffer_win32.hpp"
#include "watch_settings.hpp"

namespace {

using namespace autodeploy;
using namespace autodeploy::watch;

std::string read_beside(const std::filesystem::path& folder, std::string_view name) {
    std::ifstream in(folder / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str().substr(0, 1 << 20);
}

// The PC's answer file: its own from the room server, else the medium's (ComputerName *), else none.
std::string answer_file(const Settings& settings, const std::filesystem::path& folder) {
    for (int attempt = 0; settings.server && attempt < 2; ++attempt) {
        if (const auto response = exchange(*settings.server, answer_file_request(settings), 1 << 20)) {
            if (const auto body = answer_of(*response)) return *body;
            break;  // the server answered: it has none for this PC
        }
    }
    return read_beside(folder, "autodeploy-unattend.xml");
}

// Windows reads it at the first boot from the applied system's Panther folder.
bool write_answer_file(const std::string& text) {
    CreateDirectoryW(L"C:\\Windows", nullptr);
    CreateDirectoryW(L"C:\\Windows\\Panther", nullptr);
    std::ofstream out(std::filesystem::path(L"C:\\Windows\\Panther\\unattend.xml"), std::ios::binary);
    return static_cast<bool>(out << text << std::flush);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::filesystem::path self = fill_growing([](wchar_t* buffer, DWORD capacity) {
                                           return GetModuleFileNameW(nullptr, buffer, capacity);
                                       }).text;
    Settings settings;
    read_server_file(read_beside(self.parent_path(), kServerFile), settings);
    read_watch_file(read_beside(self.parent_path(), kWatchFile), settings);
    Reporter reporter(settings);
    if (argc > 1) {
        const unsigned long guard = std::wcstoul(argv[1], nullptr, 0);
        reporter.send(Report(guard == 0 ? Stage::GuardAllowed : Stage::GuardRefused));
        if (guard != 0) {
            reporter.finish(3000);
            return static_cast<int>(guard);
        }
    }
    const std::wstring program = (self.parent_path() / L"autodeploy.exe").wstring();
    const std::string answer = answer_file(settings, self.parent_path());
    bool answered = answer.empty();
    const auto applied = [&] {
        if (!answered && write_answer_file(answer)) reporter.send(Report(Stage::AnswerFile));
        answered = true;
    };
    for (int attempt = 1;; ++attempt) {
        DeploymentWatch watch(settings.stall, attempt);
        const RunOutcome outcome = run_autodeploy(program, watch, reporter, applied);
        const std::vector<Report> last = watch.finished(outcome.exit, outcome.error);
        if (watch.write_answer_file_now()) applied();
        for (const Report& report : last) reporter.send(report);
        if (!watch.again()) {
            if (outcome.exit != 0 && outcome.error.starts_with("Error: cannot start")) {
                (void)write_text(StandardStream::Error, outcome.error + "\n");
            }
            reporter.finish(3000);
            return static_cast<int>(outcome.exit);
        }
        (void)write_text(StandardStream::Output,
                         "传输中断，从头再来（第 " + std::to_string(attempt + 1) + " 次，共 " + std::to_string(kTries) +
                             " 次）。Transfer broke off: starting over (try " + std::to_string(attempt + 1) + " of " +
                             std::to_string(kTries) + ").\n");
    }
}
