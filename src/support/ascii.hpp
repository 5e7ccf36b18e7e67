#pragma once
// Text the firmware, WinPE and Windows' own files hold in ASCII: blanks around it, and case.
#include <string>
#include <string_view>

namespace autodeploy {

// TEXT without surrounding ASCII blanks.
inline std::string trimmed(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(kBlanks) - first + 1));
}

// TEXT with A to Z in lower case; every other byte as it is.
inline std::string ascii_lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

}  // namespace autodeploy
