#pragma once
// What the watch reads at start, from two small files beside it (X:\Windows\System32 in WinPE):
//   autodeploy-server.txt  the room server to report to: "server=ADDRESS[:PORT]", and "mac=", "name="
//                          of this PC (serve-room puts it there for each PC, make-media for a medium)
//   autodeploy-watch.txt   "stall-seconds=N" (winpe-inject --stall-seconds)
// Lines "key=value", # comments, LF or CR LF. A value that is not of its kind is left out: a file that
// cannot be read reports nothing, and never stops a deployment.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace autodeploy::watch {

// Longer than udp-sender's own drop of a dead PC (about a minute with serve-room's --retries-until-drop
// 70): while udp-sender waits that long for one PC, every other PC's image stands still too.
inline constexpr std::chrono::seconds kDefaultStall{120};

// The room server's port when "server=" names none.
inline constexpr std::uint16_t kDefaultPort = 8080;

struct Server {
    std::string address;  // dotted IPv4
    std::uint16_t port = kDefaultPort;
};

struct Settings {
    std::optional<Server> server;  // none: the watch reports nothing
    std::string mac;               // lower case with colons, or empty
    std::string name;
    std::chrono::seconds stall = kDefaultStall;
    std::string make, model;  // the firmware's (trimmed), said with every report; empty when unreadable
};

inline constexpr std::string_view kServerFile = "autodeploy-server.txt";
inline constexpr std::string_view kWatchFile = "autodeploy-watch.txt";

void read_server_file(std::string_view text, Settings& settings);
void read_watch_file(std::string_view text, Settings& settings);

// Each "key=value" line of TEXT (comments and surrounding blanks dropped), for the readers of these files.
void for_each_setting(std::string_view text, const std::function<void(std::string_view, std::string_view)>& use);
// A dotted IPv4 address, four numbers of 0 to 255.
bool is_ipv4(std::string_view text);

}  // namespace autodeploy::watch
