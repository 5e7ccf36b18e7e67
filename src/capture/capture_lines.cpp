#include "capture_lines.hpp"

namespace autodeploy::capture {

std::string no_settings_line() {
    return "没有捕获设置：本机不是由 autodeploy-capture 启动的。"
           "No capture settings: this PC was not started by autodeploy-capture.";
}

std::string waiting_for_server_line(std::string_view server) {
    const std::string at{server};
    return "正在等待服务器 " + at + "……Waiting for the room server " + at + " ...";
}

std::string no_room_line() {
    return "服务器空间不足，无法保存本机的映像。The room server has no room for this PC's image: free space in its "
           "work folder, then restart this PC by hand.";
}

std::string cannot_connect_line(std::string_view share, std::string_view ended) {
    const std::string path{share}, how{ended};
    return "无法连接服务器的共享 " + path + "。Cannot connect to the room server's share " + path +
           ": net use ended with " + how + ".";
}

std::string capturing_line(char letter, std::string_view file) {
    const std::string from = std::string(1, letter) + ":", to{file};
    return "正在捕获 " + from + " 到 " + to + "。Capturing " + from + " to " + to + ".";
}

std::string capture_failed_line(std::string_view error) {
    const std::string text{error};
    return "dism 未能捕获映像。dism could not capture the image: " + text;
}

std::string captured_line() { return "捕获完成，本机将关机。Captured; this PC shuts down now."; }

std::string shutdown_failed_line(std::string_view why) {
    const std::string text{why};
    return "映像已保存，但无法关机，请手动关闭本机（不要重启）。The image is saved, but the PC could not shut down (" +
           text + "): switch it off by hand, do not restart it.";
}

std::string reported_half(std::string_view line) {
    constexpr std::string_view kFullStop = "。";
    const std::size_t at = line.find(kFullStop);
    return std::string(at == std::string_view::npos ? line : line.substr(at + kFullStop.size()));
}

}  // namespace autodeploy::capture
