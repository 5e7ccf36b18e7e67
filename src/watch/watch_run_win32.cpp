#include "watch_run_win32.hpp"

#include <cwchar>

#include "autodeploy_run_win32.hpp"
#include "support/console_writer.hpp"
#include "watch_lines.hpp"

namespace autodeploy::watch {
namespace {

constexpr unsigned kLastReportsWithin = 3000;  // milliseconds

}  // namespace

std::optional<int> guard_refusal(const wchar_t* status, Reporter& reporter) {
    if (status == nullptr) return std::nullopt;
    const unsigned long guard = std::wcstoul(status, nullptr, 0);
    reporter.send(Report(guard == 0 ? Stage::GuardAllowed : Stage::GuardRefused));
    if (guard != 0) {
        reporter.finish(kLastReportsWithin);
        return static_cast<int>(guard);
    }
    return std::nullopt;
}

int run_tries(const std::filesystem::path& program, std::chrono::seconds stall, DriverAdding& drivers,
              AnswerFile& answer, Reporter& reporter) {
    const Applied applied = [&]() -> std::optional<std::string> {
        if (std::optional<std::string> failed = drivers.applied(reporter)) return failed;
        answer.applied(reporter);
        return std::nullopt;
    };
    for (int attempt = 1;; ++attempt) {
        DeploymentWatch watch(stall, attempt);
        RunOutcome outcome = run_autodeploy(program.wstring(), watch, reporter, applied);
        std::vector<Report> last = watch.finished(outcome.exit, outcome.error);
        // All of it too quick to be seen: autodeploy has ended well, what follows the apply comes now.
        if (const std::optional<std::string> failed = watch.write_answer_file_now() ? applied() : std::nullopt) {
            outcome = {1, *failed};
            last = watch.finished(outcome.exit, outcome.error);
        }
        for (const Report& report : last) reporter.send(report);
        if (!watch.again()) {
            if (outcome.exit != 0 && is_cannot_start_line(outcome.error)) {
                (void)write_text(StandardStream::Error, outcome.error + "\n");
            }
            reporter.finish(kLastReportsWithin);
            return static_cast<int>(outcome.exit);
        }
        (void)write_text(StandardStream::Output, starting_over_line(attempt + 1) + "\n");
    }
}

}  // namespace autodeploy::watch
