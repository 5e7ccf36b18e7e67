#include "capture_run_win32.hpp"

#include <winsock2.h>

#include <optional>
#include <string>
#include <variant>

#include "capture_commands.hpp"
#include "capture_lines.hpp"
#include "server_settings_win32.hpp"
#include "support/console_writer.hpp"
#include "support/wide_win32.hpp"
#include "tools/tool_runner.hpp"
#include "volumes_win32.hpp"
#include "watch/beside_win32.hpp"
#include "watch/dism_run_win32.hpp"
#include "watch/report_request.hpp"
#include "watch/reporter_win32.hpp"

namespace autodeploy::capture {
namespace {

constexpr int kNoSettings = 2, kFailed = 1;
constexpr int kNoRoom = 507;  // the room server's answer when its work folder cannot hold the image

// Winsock for the run's reports, whichever way it ends.
struct Winsock {
    bool started;
    Winsock() {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
    ~Winsock() {
        if (started) WSACleanup();
    }
};

void say(StandardStream stream, const std::string& line) { (void)write_text(stream, line + "\n"); }

// One report, tried twice as the watch tries each; the server's status, or 0 without an answer.
int report(const watch::Settings& pc, const std::string& request) {
    if (!pc.server) return 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (const auto response = watch::exchange(*pc.server, request, 64)) return watch::status_of(*response);
        Sleep(500);
    }
    return 0;
}

int failed(const watch::Settings& pc, const std::string& line, const std::string& error) {
    say(StandardStream::Error, line);
    (void)report(pc, watch::report_request(pc, watch::Report(watch::Stage::Failed, 0, 1, error)));
    return kFailed;
}

std::optional<std::uint64_t> file_size(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int run_capture(const std::filesystem::path& folder, const watch::Settings& pc) {
    const Winsock winsock;
    CaptureSettings settings;
    read_capture_file(watch::read_beside(folder, watch::kServerFile), settings);
    if (!complete(settings) && winsock.started) ask_server(pc, settings);
    if (!complete(settings)) {
        say(StandardStream::Error, no_settings_line());
        return kNoSettings;
    }

    const WindowsChoice choice = choose_windows(read_volumes(), settings.not_generalized);
    if (const auto* refused = std::get_if<Refused>(&choice)) {
        return failed(pc, refused->line, reported_half(refused->line));
    }
    const char letter = std::get<Chosen>(choice).letter;
    if (report(pc, capture_report(pc, kFound, used_bytes(letter))) == kNoRoom) {
        return failed(pc, no_room_line(), reported_half(no_room_line()));
    }

    const std::string share = share_path(*settings.image), file = file_path(*settings.image);
    if (const Result<std::uint32_t> net = run_to_exit("net", net_use_arguments(settings), OutputMode::Shown);
        !net.ok() || net.value() != 0) {
        const std::string line = cannot_connect_line(share,
                                                     net.ok() ? std::to_string(net.value()) : net.error().render());
        return failed(pc, line, reported_half(line));
    }

    (void)report(pc, capture_report(pc, kCapturing, std::nullopt));
    say(StandardStream::Output, capturing_line(letter, file));
    if (const std::optional<std::string> dism = watch::run_dism_shown(capture_arguments(settings, letter))) {
        const std::string reported = "capturing: " + *dism;
        return failed(pc, capture_failed_line(reported), reported);
    }

    (void)report(pc, capture_report(pc, kCaptured, file_size(file)));
    say(StandardStream::Output, captured_line());
    // Shut down, never restart: a restart would start the reference PC's Windows and spend its sysprep.
    if (const Status off = run_tool("wpeutil", {"shutdown"}, OutputMode::Shown); !off.ok()) {
        say(StandardStream::Error, shutdown_failed_line(off.error().render()));
    }
    return 0;
}

}  // namespace autodeploy::capture
