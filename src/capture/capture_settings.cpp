#include "capture_settings.hpp"

#include <algorithm>
#include <cctype>

#include "watch/watch_settings.hpp"

namespace autodeploy::capture {
namespace {

bool plain_name(std::string_view text, std::size_t at_most) {
    return !text.empty() && text.size() <= at_most && std::ranges::all_of(text, [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
    });
}

// Printable (UTF-8 beyond ASCII too), and no double quote: dism takes /Name: whole only without one.
bool image_name(std::string_view text) {
    return !text.empty() && text.size() <= kNameBytes && std::ranges::none_of(text, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F || c == '"';
    });
}

}  // namespace

std::optional<ImageOnShare> image_on_share(std::string_view unc) {
    if (!unc.starts_with("\\\\")) return std::nullopt;
    unc.remove_prefix(2);
    const std::size_t first = unc.find('\\'), second = unc.find('\\', first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos) return std::nullopt;
    const std::string_view address = unc.substr(0, first), share = unc.substr(first + 1, second - first - 1),
                           file = unc.substr(second + 1);
    std::string suffix{file.substr(file.size() < 4 ? 0 : file.size() - 4)};
    for (char& c : suffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!watch::is_ipv4(address) || !plain_name(share, 80) || !plain_name(file, 255) || file.size() < 5 ||
        suffix != ".wim") {
        return std::nullopt;
    }
    return ImageOnShare{std::string(address), std::string(share), std::string(file)};
}

void read_capture_file(std::string_view text, CaptureSettings& settings) {
    watch::for_each_setting(text, [&](std::string_view key, std::string_view value) {
        if (key == "capture") {
            if (std::optional<ImageOnShare> image = image_on_share(value)) settings.image = std::move(image);
        } else if (key == "user" && plain_name(value, kCredentialBytes)) {
            settings.user = value;
        } else if (key == "password" && plain_name(value, kCredentialBytes)) {
            settings.password = value;
        } else if (key == "capture-name" && image_name(value)) {
            settings.name = value;
        } else if (key == "not-generalized" && value == "yes") {
            settings.not_generalized = true;
        }
    });
}

bool complete(const CaptureSettings& settings) {
    return settings.image && !settings.user.empty() && !settings.password.empty();
}

std::string share_path(const ImageOnShare& image) { return "\\\\" + image.address + "\\" + image.share; }

std::string file_path(const ImageOnShare& image) { return share_path(image) + "\\" + image.file; }

}  // namespace autodeploy::capture
