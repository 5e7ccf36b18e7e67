#include "deployment_watch.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace autodeploy::watch {
namespace {

constexpr std::array kOrder{Stage::DiskPrepared, Stage::Waiting,   Stage::Receiving,
                            Stage::Applying,     Stage::BootFiles, Stage::Deployed};

int index_of(Stage stage) { return static_cast<int>(std::find(kOrder.begin(), kOrder.end(), stage) - kOrder.begin()); }

}  // namespace

Tool tool_of(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "wpeutil.exe") return Tool::Utility;
    if (lower == "diskpart.exe") return Tool::Partition;
    if (lower == "udp-receiver.exe") return Tool::Receiver;
    if (lower == "dism.exe") return Tool::Image;
    if (lower == "bcdboot.exe") return Tool::Boot;
    return Tool::Other;
}

DeploymentWatch::DeploymentWatch(std::chrono::seconds stall, int attempt)
    : stall_(static_cast<double>(stall.count())), attempt_(attempt) {}

void DeploymentWatch::reach(Stage stage, double now, std::vector<Report>& reports) {
    for (int next = reached_ + 1; next <= index_of(stage); ++next) {
        reports.emplace_back(kOrder[static_cast<std::size_t>(next)], bytes_);
        reached_ = next;
        last_report_ = now;
    }
}

DeploymentWatch::Step DeploymentWatch::observe(double now, Tool tool, std::optional<std::uint64_t> image) {
    Step step;
    if (tool == Tool::Receiver) {
        receiver_seen_ = true;
        reach(Stage::Waiting, now, step.reports);
    }
    // The image has begun to arrive once it grows while the receiver runs: a file left by an earlier try
    // that stands still is no transfer, and a PC that waits for one is never stalled.
    if (tool == Tool::Receiver && image && seen_before_ && *image > last_image_.value_or(0)) {
        armed_ = true;
        last_growth_ = now;
        bytes_ = *image;
        if (reached_ < index_of(Stage::Receiving) || now - last_report_ >= kProgressEvery) {
            reached_ = std::min(reached_, index_of(Stage::Waiting));
            reach(Stage::Receiving, now, step.reports);
        }
    }
    last_image_ = image;
    seen_before_ = true;
    if (tool == Tool::Receiver && armed_ && !broke_off_ && now - last_growth_ >= stall_) {
        broke_off_ = step.end_receiver = true;
    }
    if (tool == Tool::Image) reach(Stage::Applying, now, step.reports);
    if (tool == Tool::Boot) reach(Stage::BootFiles, now, step.reports);
    // wpeutil runs first (UpdateBootInfo) and last (reboot): after dism, it is the restart.
    if (tool == Tool::Utility && reached_ >= index_of(Stage::Applying)) reach(Stage::Deployed, now, step.reports);
    // dism has ended once autodeploy runs what comes after it.
    if (answer_file_due_ && reached_ > index_of(Stage::Applying)) {
        answer_file_due_ = false;
        step.write_answer_file = true;
    }
    if (step.reports.empty() && reached_ >= 0 && now - last_report_ >= kHeartbeat) {
        step.reports.emplace_back(kOrder[static_cast<std::size_t>(reached_)], bytes_);
        last_report_ = now;
    }
    return step;
}

void DeploymentWatch::receiver_ended(std::uint32_t exit) {
    if (exit != 0) broke_off_ = true;
}

std::vector<Report> DeploymentWatch::finished(std::uint32_t exit, const std::string& error) {
    std::vector<Report> reports;
    if (exit == 0) {
        reach(Stage::Deployed, last_report_, reports);
        answer_file_late_ = std::exchange(answer_file_due_, false);
    } else if (broke_off_ && attempt_ < kTries) {
        again_ = true;
        reports.emplace_back(Stage::StartingOver, bytes_, attempt_ + 1);
    } else {
        reports.emplace_back(Stage::Failed, bytes_, attempt_, error);
    }
    return reports;
}

}  // namespace autodeploy::watch
