#include "server_settings_win32.hpp"

#include "capture_lines.hpp"
#include "support/console_writer.hpp"
#include "support/win32.hpp"
#include "watch/report_request.hpp"
#include "watch/reporter_win32.hpp"

namespace autodeploy::capture {
namespace {

constexpr ULONGLONG kAskFor = 120'000, kAskEvery = 5'000;  // milliseconds

}  // namespace

void ask_server(const watch::Settings& pc, CaptureSettings& settings) {
    if (!pc.server) return;
    const ULONGLONG start = GetTickCount64();
    for (bool said = false;;) {
        // A file without the share (the server's own is not up yet) is asked for again, as no answer is.
        if (const auto response = watch::exchange(*pc.server, watch::settings_file_request(pc), 1 << 16)) {
            if (const auto body = watch::body_of(*response)) read_capture_file(*body, settings);
            if (complete(settings) || !watch::body_of(*response)) break;
        }
        if (GetTickCount64() - start >= kAskFor) break;
        if (!said) {
            const std::string server = pc.server->address + ":" + std::to_string(pc.server->port);
            (void)write_text(StandardStream::Output, waiting_for_server_line(server) + "\n");
            said = true;
        }
        Sleep(kAskEvery);
    }
}

}  // namespace autodeploy::capture
