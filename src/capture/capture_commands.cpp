#include "capture_commands.hpp"

#include "watch/report_request.hpp"

namespace autodeploy::capture {

std::vector<std::string> net_use_arguments(const CaptureSettings& settings) {
    // The password on net's command line: nothing else runs in this WinPE to read it there.
    return {"use", share_path(*settings.image), settings.password, "/user:" + settings.user};
}

std::vector<std::string> capture_arguments(const CaptureSettings& settings, char letter) {
    // LZX (max): every PC of the room receives the whole file over the multicast, so its size counts once on
    // the wire for all of them, and LZX still applies at disk speed; LZMS (recovery) makes an ESD that
    // applies far slower.
    return {"/Capture-Image",
            "/ImageFile:" + file_path(*settings.image),
            "/CaptureDir:" + std::string(1, letter) + ":\\",
            "/Name:" + settings.name,
            "/Compress:max",
            "/CheckIntegrity"};
}

std::string capture_report(const watch::Settings& pc, std::string_view word, std::optional<std::uint64_t> bytes) {
    std::string values = "stage=" + std::string(word);
    if (bytes) values += "&bytes=" + std::to_string(*bytes);
    return watch::report_request_of(pc, values);
}

}  // namespace autodeploy::capture
