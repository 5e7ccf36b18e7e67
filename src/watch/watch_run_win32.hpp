#pragma once
// The watch's run, around autodeploy's runs: the disk 0 guard's verdict first, then autodeploy from the
// top again after each transfer that broke off, while tries are left.
#include <chrono>
#include <filesystem>
#include <optional>

#include "answer_file_win32.hpp"
#include "driver_add_win32.hpp"
#include "reporter_win32.hpp"

namespace autodeploy::watch {

// Reports the verdict of the guard's exit STATUS (the launch script's argument, if given). When it refused,
// the status to exit with, once the reports are sent (3 s at most).
std::optional<int> guard_refusal(const wchar_t* status, Reporter& reporter);

// Runs PROGRAM until it ends well, fails, or its transfer broke off on the last try; the status to exit
// with: its last.
// Once dism has applied the image: DRIVERS added, then ANSWER written.
int run_tries(const std::filesystem::path& program, std::chrono::seconds stall, DriverAdding& drivers,
              AnswerFile& answer, Reporter& reporter);

}  // namespace autodeploy::watch
