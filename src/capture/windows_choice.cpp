#include "windows_choice.hpp"

#include <algorithm>

#include "support/ascii.hpp"

namespace autodeploy::capture {
namespace {

bool same_ignoring_case(std::string_view a, std::string_view b) { return ascii_lower(a) == ascii_lower(b); }

std::string letters(const std::vector<char>& found, std::string_view between) {
    std::string text;
    for (const char letter : found) text.append(text.empty() ? "" : between).append(1, letter) += ':';
    return text;
}

Refused refused(const std::string& zh, const std::string& en) { return {zh + en}; }

}  // namespace

std::string image_state_of(std::string_view state_ini) {
    std::string text;
    for (const char c : state_ini) {
        if (c != '\0') text += c;  // UTF-16's high bytes: the keys and values are ASCII
    }
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) text.erase(0, 2);
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    bool in_state = false;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = trimmed(std::string_view(text).substr(start, end - start));
        start = end + 1;
        if (line.starts_with('[')) {
            in_state = same_ignoring_case(line, "[State]");
        } else if (const std::size_t equals = line.find('=');
                   in_state && equals != std::string::npos &&
                   same_ignoring_case(trimmed(line.substr(0, equals)), "ImageState")) {
            std::string value = trimmed(line.substr(equals + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            return value;
        }
    }
    return {};
}

bool locked_by_bitlocker(std::string_view boot_sector) {
    return boot_sector.size() >= 11 && boot_sector.substr(3, 8) == "-FVE-FS-";
}

WindowsChoice choose_windows(const std::vector<Volume>& volumes, bool not_generalized) {
    std::vector<char> windows, locked;
    for (const Volume& volume : volumes) {
        if (volume.letter == 'X') continue;  // WinPE itself
        if (volume.has_windows) windows.push_back(volume.letter);
        if (locked_by_bitlocker(volume.boot_sector)) locked.push_back(volume.letter);
    }
    if (windows.empty() && !locked.empty()) {
        const std::string on = letters(locked, ", ");
        return refused(
            "卷 " + letters(locked, "、") +
                " 被 BitLocker 加密并锁定，无法读取其中的 Windows：请先在 Windows 中解密（manage-bde -off），再捕获。",
            "Volume " + on +
                " is locked by BitLocker, so its Windows cannot be read: decrypt it first "
                "(in Windows: manage-bde -off " +
                letters({locked.front()}, "") + "), then capture again.");
    }
    if (windows.empty()) {
        return refused(
            "未找到已安装的 Windows（没有卷包含 \\Windows\\System32\\config\\SOFTWARE）：请确认这是参考机，且 WinPE "
            "能看到它的磁盘（diskpart、list volume）。",
            "No installed Windows found (no volume holds \\Windows\\System32\\config\\SOFTWARE): check "
            "that this is the reference PC and that WinPE sees its disk (diskpart, list volume).");
    }
    if (windows.size() > 1) {
        return refused(
            "找到多个 Windows（" + letters(windows, "、") + "），无法确定要捕获哪一个：请断开其他磁盘后再捕获。",
            "More than one Windows found (" + letters(windows, ", ") +
                "): a capture takes exactly one; "
                "disconnect the other disks, then capture again.");
    }
    const Volume& chosen = *std::ranges::find(volumes, windows.front(), &Volume::letter);
    if (!not_generalized && chosen.image_state != kGeneralized) {
        const std::string state = chosen.image_state.empty() ? "unknown" : chosen.image_state;
        const std::string on = letters(windows, "");
        return refused(on + " 上的 Windows 未经通用化（映像状态 " + state +
                           "）：请先在其中运行 sysprep /generalize /oobe /shutdown。",
                       "The Windows on " + on + " is not generalized (image state " + state +
                           "): run sysprep "
                           "/generalize /oobe /shutdown in it first, or capture it with --not-generalized as a "
                           "backup, not an image to deploy.");
    }
    return Chosen{chosen.letter};
}

}  // namespace autodeploy::capture
