#pragma once
// Sends the reports to the room server from a thread of its own, one after another, over plain Winsock
// (WinPE surely has it: the embedded udpcast receiver is a Winsock program; WinHTTP it may lack). The
// caller never waits for the network: a report is queued, a newer Receiving replaces a queued one, and
// each is tried twice with short time limits, then dropped.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "deployment_watch.hpp"
#include "watch_settings.hpp"

namespace autodeploy::watch {

// One request to the server and its response (AT_MOST bytes of it), within short time limits; nothing when
// the server cannot be reached or says nothing.
std::optional<std::string> exchange(const Server& server, const std::string& request, std::size_t at_most);

class Reporter {
public:
    explicit Reporter(const Settings& settings);
    ~Reporter();
    Reporter(const Reporter&) = delete;
    Reporter& operator=(const Reporter&) = delete;

    void send(const Report& report);
    // Waits for the queue to empty, at most MILLISECONDS, then stops the thread.
    void finish(unsigned milliseconds);

private:
    void run();

    Settings settings_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Report> queue_;
    bool stopping_ = false, busy_ = false;
    std::thread thread_;
};

}  // namespace autodeploy::watch
