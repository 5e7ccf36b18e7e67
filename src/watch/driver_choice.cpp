#include "driver_choice.hpp"

#include <algorithm>
#include <array>
#include <charconv>

namespace autodeploy::watch {
namespace {

// What firmware makers leave in the SMBIOS strings they did not fill in, trimmed and in lower case.
constexpr std::array<std::string_view, 12> kPlaceholders{"",
                                                         "to be filled by o.e.m.",
                                                         "system manufacturer",
                                                         "system product name",
                                                         "default string",
                                                         "not applicable",
                                                         "not specified",
                                                         "none",
                                                         "o.e.m.",
                                                         "oem",
                                                         "unknown",
                                                         "invalid"};

std::string lowered(std::string_view text) { return ascii_lower(trimmed(text)); }

std::optional<unsigned> whole_number(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

bool is_placeholder(std::string_view firmware_text) {
    return std::ranges::find(kPlaceholders, lowered(firmware_text)) != kPlaceholders.end();
}

std::vector<std::string> chosen_folders(std::vector<std::string> names, std::string_view firmware_text) {
    const std::string wanted = lowered(firmware_text);
    std::erase_if(names, [&](const std::string& name) { return is_placeholder(wanted) || lowered(name) != wanted; });
    std::ranges::sort(names);
    return names;
}

std::string tally_text(DriverTally tally) {
    return std::to_string(tally.loaded) + " of " + std::to_string(tally.drivers);
}

std::optional<DriverTally> read_tally(std::string_view text) {
    const std::string line = trimmed(text);
    const std::size_t of = line.find(" of ");
    if (of == std::string::npos) return std::nullopt;
    const auto loaded = whole_number(std::string_view(line).substr(0, of));
    const auto drivers = whole_number(std::string_view(line).substr(of + 4));
    if (!loaded || !drivers || *loaded > *drivers) return std::nullopt;
    return DriverTally{*loaded, *drivers};
}

}  // namespace autodeploy::watch
