#include "report_request.hpp"

#include <cctype>

namespace autodeploy::watch {

std::string_view stage_word(Stage stage) {
    switch (stage) {
    case Stage::GuardAllowed: return "guard-allowed";
    case Stage::GuardRefused: return "guard-refused";
    case Stage::DiskPrepared: return "disk-prepared";
    case Stage::Waiting: return "waiting";
    case Stage::Receiving: return "receiving";
    case Stage::Applying: return "applying";
    case Stage::BootFiles: return "boot-files";
    case Stage::AnswerFile: return "answer-file";
    case Stage::Deployed: return "deployed";
    case Stage::Failed: return "failed";
    case Stage::StartingOver: return "starting-over";
    case Stage::DriversLoaded: return "drivers-loaded";
    case Stage::DriversAdded: return "drivers-added";
    }
    return "unknown";
}

std::string percent_encoded(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~' || c == ':') {
            out += c;
        } else {
            out += '%';
            out += "0123456789ABCDEF"[byte >> 4];
            out += "0123456789ABCDEF"[byte & 0xF];
        }
    }
    return out;
}

namespace {

std::string_view whole_characters(std::string_view text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;  // a whole character
    return text.substr(0, bytes);
}

std::string head(const Settings& settings) {
    const std::string host = settings.server ? settings.server->address + ":" + std::to_string(settings.server->port)
                                             : std::string("-");
    return " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
}

}  // namespace

std::string answer_file_request(const Settings& settings) {
    return "GET /unattend.xml" + (settings.mac.empty() ? std::string() : "?mac=" + settings.mac) + head(settings);
}

std::string settings_file_request(const Settings& settings) {
    return "GET /pc.txt" + (settings.mac.empty() ? std::string() : "?mac=" + settings.mac) + head(settings);
}

std::optional<std::string> body_of(std::string_view response) {
    const std::size_t body = response.find("\r\n\r\n");
    if (status_of(response) != 200 || body == std::string_view::npos) return std::nullopt;
    return std::string(response.substr(body + 4));
}

int status_of(std::string_view response) {
    constexpr std::string_view kVersion = "HTTP/1.1 ";
    if (!response.starts_with(kVersion) || response.size() < kVersion.size() + 4) return 0;
    const std::string_view code = response.substr(kVersion.size(), 4);
    int status = 0;
    for (const char c : code.substr(0, 3)) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
        status = status * 10 + (c - '0');
    }
    return code[3] == ' ' ? status : 0;
}

std::string report_request(const Settings& settings, const Report& report) {
    std::string query = "stage=" + std::string(stage_word(report.stage));
    if (report.stage == Stage::Receiving) query += "&bytes=" + std::to_string(report.bytes);
    if (report.stage == Stage::StartingOver) query += "&try=" + std::to_string(report.attempt);
    if (report.stage == Stage::Failed) {
        query += "&error=" + percent_encoded(whole_characters(report.error, kErrorBytes));
    }
    if (report.stage == Stage::DriversLoaded) query += "&loaded=" + std::to_string(report.tally.loaded);
    if (report.stage == Stage::DriversLoaded || report.stage == Stage::DriversAdded) {
        query += "&drivers=" + std::to_string(report.tally.drivers);
    }
    return report_request_of(settings, query);
}

std::string report_request_of(const Settings& settings, std::string_view stage_and_values) {
    std::string query{stage_and_values};
    if (!settings.mac.empty()) query = "mac=" + settings.mac + "&" + query;
    if (!settings.make.empty()) query += "&make=" + percent_encoded(whole_characters(settings.make, kFirmwareBytes));
    if (!settings.model.empty()) query += "&model=" + percent_encoded(whole_characters(settings.model, kFirmwareBytes));
    return "GET /report?" + query + head(settings);
}

}  // namespace autodeploy::watch
