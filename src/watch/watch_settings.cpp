#include "watch_settings.hpp"

#include <cctype>
#include <charconv>

namespace autodeploy::watch {
namespace {

std::optional<unsigned> number(std::string_view text, unsigned at_most) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value > at_most) return {};
    return value;
}

bool mac(std::string_view text) {
    if (text.size() != 17) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool separator = i % 3 == 2;
        if (separator ? text[i] != ':' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

bool computer_name(std::string_view text) {
    bool letter = false;
    for (const char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') return false;
        letter = letter || !std::isdigit(static_cast<unsigned char>(c));
    }
    return !text.empty() && text.size() <= 15 && letter && text.front() != '-';
}

}  // namespace

void for_each_setting(std::string_view text, const std::function<void(std::string_view, std::string_view)>& use) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.remove_suffix(1);
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front()))) line.remove_prefix(1);
        if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
            use(line.substr(0, equals), line.substr(equals + 1));
        }
    }
}

bool is_ipv4(std::string_view text) {
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = part < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos || dot == 0 || dot > 3 || !number(text.substr(0, dot), 255)) return false;
        text = part < 3 ? text.substr(dot + 1) : std::string_view{};
    }
    return true;
}

void read_server_file(std::string_view text, Settings& settings) {
    for_each_setting(text, [&](std::string_view key, std::string_view value) {
        if (key == "server") {
            const std::size_t colon = value.find(':');
            const std::string_view address = value.substr(0, colon);
            const auto port = colon == std::string_view::npos ? std::optional<unsigned>(kDefaultPort)
                                                              : number(value.substr(colon + 1), 65535);
            if (is_ipv4(address) && port && *port > 0) {
                settings.server = Server{std::string(address), static_cast<std::uint16_t>(*port)};
            }
        } else if (key == "mac" && mac(value)) {
            settings.mac = value;
            for (char& c : settings.mac) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else if (key == "name" && computer_name(value)) {
            settings.name = value;
        }
    });
}

void read_watch_file(std::string_view text, Settings& settings) {
    for_each_setting(text, [&](std::string_view key, std::string_view value) {
        if (const auto seconds = number(value, 86400); key == "stall-seconds" && seconds && *seconds > 0) {
            settings.stall = std::chrono::seconds(*seconds);
        }
    });
}

}  // namespace autodeploy::watch
