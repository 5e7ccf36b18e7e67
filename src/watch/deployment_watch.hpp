#pragma once
// The watch's decisions without a PC: what autodeploy is doing (which of its children runs, and how
// C:\system.wim grows), what to report to the room, when a transfer has broken off, and whether to
// start autodeploy over. autodeploy's children run one after another in a fixed order, so a child seen
// means every stage before it is done, even when polling missed a short one.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver_choice.hpp"

namespace autodeploy::watch {

enum class Stage {
    GuardAllowed,
    GuardRefused,
    DiskPrepared,
    Waiting,
    Receiving,
    Applying,
    BootFiles,
    AnswerFile,
    Deployed,
    Failed,
    StartingOver,
    DriversLoaded,  // in WinPE, before the guard's verdict (the room server's order of words: at the end)
    DriversAdded
};

struct Report {
    explicit Report(Stage stage_, std::uint64_t bytes_ = 0, int attempt_ = 1, std::string error_ = {})
        : stage(stage_), bytes(bytes_), attempt(attempt_), error(std::move(error_)) {}

    Stage stage;
    std::uint64_t bytes;  // Receiving: how much of the image has arrived
    int attempt;          // StartingOver: the try that begins
    std::string error;    // Failed: autodeploy's own "Error: " line, or why the drivers could not be added
    DriverTally tally;    // DriversLoaded: loaded of drivers; DriversAdded: drivers
};

// Which of autodeploy's children runs, by its program file's name (case ignored).
enum class Tool { None, Utility, Partition, Receiver, Image, Boot, Other };
Tool tool_of(std::string_view program_file_name);

// Three tries: a server restarted, or a PC dropped once, costs one; a transfer that breaks three times
// in a row on one PC is something a person should look at, so it holds as any other failure does.
inline constexpr int kTries = 3;
inline constexpr double kProgressEvery = 3;  // seconds between two reports of the bytes received
inline constexpr double kHeartbeat = 60;     // the stage said again after so long without a report

class DeploymentWatch {
public:
    DeploymentWatch(std::chrono::seconds stall, int attempt);

    struct Step {
        std::vector<Report> reports;
        bool end_receiver = false;       // the image has stood still for the stall time: end the receiver
        bool write_answer_file = false;  // dism has applied the image: now, before the restart
    };
    // NOW: seconds from any fixed moment; TOOL: the child that runs; IMAGE: C:\system.wim's size, if any.
    Step observe(double now, Tool tool, std::optional<std::uint64_t> image);
    // The receiver ended with EXIT: the transfer broke off unless it is 0.
    void receiver_ended(std::uint32_t exit);
    // autodeploy ended with EXIT (ERROR: its "Error: " line): the last reports of this try. When the
    // transfer broke off and tries are left, the last is StartingOver and again() holds. A run that ended
    // well before the answer file was written wants it now (write_answer_file_now()).
    std::vector<Report> finished(std::uint32_t exit, const std::string& error);
    bool write_answer_file_now() const { return answer_file_late_; }
    bool again() const { return again_; }

private:
    void reach(Stage stage, double now, std::vector<Report>& reports);

    double stall_;
    int attempt_;
    int reached_ = -1;  // index of the last stage reported, in kOrder
    std::uint64_t bytes_ = 0;
    std::optional<std::uint64_t> last_image_;
    bool seen_before_ = false, receiver_seen_ = false, armed_ = false, broke_off_ = false, again_ = false;
    bool answer_file_due_ = true, answer_file_late_ = false;
    double last_growth_ = 0, last_report_ = 0;
};

}  // namespace autodeploy::watch
