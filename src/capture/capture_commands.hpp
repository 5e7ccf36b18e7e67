#pragma once
// What the capture asks of others: net use for the room server's share, dism's capture, and its reports to
// the room server (their words; the request's form is the watch's, report_request.hpp).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture_settings.hpp"
#include "watch/watch_settings.hpp"

namespace autodeploy::capture {

inline constexpr std::string_view kFound = "capture-found", kCapturing = "capturing", kCaptured = "captured";

// net use \\ADDRESS\SHARE PASSWORD /user:USER
std::vector<std::string> net_use_arguments(const CaptureSettings& settings);
// dism /Capture-Image of LETTER:\ into the file on the share.
std::vector<std::string> capture_arguments(const CaptureSettings& settings, char letter);
// stage=WORD, and bytes=BYTES when known.
std::string capture_report(const watch::Settings& pc, std::string_view word, std::optional<std::uint64_t> bytes);

}  // namespace autodeploy::capture
