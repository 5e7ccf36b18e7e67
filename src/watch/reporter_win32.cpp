#include "reporter_win32.hpp"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <utility>

#include "report_request.hpp"

namespace autodeploy::watch {
namespace {

constexpr long kConnectSeconds = 2, kAnswerSeconds = 3;

// A socket closed whichever way the exchange ends.
struct OwnedSocket {
    SOCKET s;
    explicit OwnedSocket(SOCKET s_) : s(s_) {}
    OwnedSocket(const OwnedSocket&) = delete;
    OwnedSocket& operator=(const OwnedSocket&) = delete;
    ~OwnedSocket() {
        if (s != INVALID_SOCKET) closesocket(s);
    }
};

// S, connecting, is connected within SECONDS.
bool connected_within(SOCKET s, long seconds) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval limit{seconds, 0};
    return select(0, nullptr, &writable, &failed, &limit) == 1 && FD_ISSET(s, &writable);
}

// Connects within kConnectSeconds (a plain connect waits for the system's own limit, some 20 s), then
// leaves the socket blocking, each send and receive limited to kAnswerSeconds.
bool connect_in_time(SOCKET s, const Server& server) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(server.port);
    if (inet_pton(AF_INET, server.address.c_str(), &to.sin_addr) != 1) return false;
    u_long nonblocking = 1;
    ioctlsocket(s, FIONBIO, &nonblocking);
    bool connected = connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != SOCKET_ERROR;
    if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) connected = connected_within(s, kConnectSeconds);
    nonblocking = 0;
    ioctlsocket(s, FIONBIO, &nonblocking);
    const DWORD milliseconds = kAnswerSeconds * 1000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&milliseconds), sizeof milliseconds);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&milliseconds), sizeof milliseconds);
    return connected;
}

}  // namespace

std::optional<std::string> exchange(const Server& server, const std::string& request, std::size_t at_most) {
    const OwnedSocket owned(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (owned.s == INVALID_SOCKET || !connect_in_time(owned.s, server)) return std::nullopt;
    if (send(owned.s, request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size())) {
        return std::nullopt;
    }
    std::string got;
    char buffer[4096];
    for (int n; got.size() < at_most && (n = recv(owned.s, buffer, sizeof buffer, 0)) > 0;) got.append(buffer, n);
    if (got.empty()) return std::nullopt;
    return got;
}

Reporter::Reporter(const Settings& settings) : settings_(settings) {
    if (!settings_.server) return;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    thread_ = std::thread([this] { run(); });
}

Reporter::~Reporter() { finish(0); }

void Reporter::send(const Report& report) {
    if (!thread_.joinable()) return;
    const std::lock_guard lock(mutex_);
    if (report.stage == Stage::Receiving && !queue_.empty() && queue_.back().stage == Stage::Receiving) {
        queue_.back() = report;
    } else {
        queue_.push_back(report);
    }
    changed_.notify_all();
}

void Reporter::finish(unsigned milliseconds) {
    if (!thread_.joinable()) return;
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return queue_.empty() && !busy_; });
        stopping_ = true;
        queue_.clear();
        changed_.notify_all();
    }
    // A report under way ends within its own time limits.
    thread_.join();
    WSACleanup();
}

void Reporter::run() {
    for (;;) {
        Report report(Stage::Failed);
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            report = queue_.front();
            queue_.pop_front();
            busy_ = true;
        }
        const std::string request = report_request(settings_, report);
        for (int attempt = 0; attempt < 2 && !exchange(*settings_.server, request, 64); ++attempt) Sleep(500);
        const std::lock_guard lock(mutex_);
        busy_ = false;
        changed_.notify_all();
    }
}

}  // namespace autodeploy::watch
