#include "volumes_win32.hpp"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/environment.hpp"
#include "support/unique_handle_win32.hpp"
#include "support/wide_win32.hpp"

namespace autodeploy::capture {
namespace {

std::wstring root_of(char letter) { return std::wstring(1, static_cast<wchar_t>(letter)) + L":\\"; }

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Its first sector as read through the volume's device; empty when it cannot be read (a locked BitLocker
// volume still can: its boot sector names it).
std::string boot_sector(char letter) {
    const std::wstring device = L"\\\\.\\" + std::wstring(1, static_cast<wchar_t>(letter)) + L":";
    const UniqueHandle volume{CreateFileW(device.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr)};
    std::string sector(512, '\0');
    DWORD got = 0;
    if (!volume || !ReadFile(volume.get(), sector.data(), static_cast<DWORD>(sector.size()), &got, nullptr)) return {};
    sector.resize(got);
    return sector;
}

std::string state_ini(const std::wstring& root) {
    std::ifstream in(std::filesystem::path(root + L"Windows\\Setup\\State\\State.ini"), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str().substr(0, 1 << 16);
}

// ImageState in the offline SOFTWARE hive, loaded for this process alone and unloaded with the key.
std::string registry_image_state(const std::wstring& hive) {
    HKEY software = nullptr;
    if (RegLoadAppKeyW(hive.c_str(), &software, KEY_READ, REG_PROCESS_APPKEY, 0) != ERROR_SUCCESS) return {};
    wchar_t text[128];
    DWORD size = sizeof text;
    const LSTATUS status = RegGetValueW(software, L"Microsoft\\Windows\\CurrentVersion\\Setup\\State", L"ImageState",
                                        RRF_RT_REG_SZ, nullptr, text, &size);
    RegCloseKey(software);
    return status == ERROR_SUCCESS ? narrow(text).value_or("") : std::string();
}

// X: and the drive WinPE runs from (X: too in WinPE) hold WinPE itself, never the Windows to capture.
char system_drive() {
    const std::string drive = environment_variable(L"SystemDrive").value_or("X:");
    return drive.empty() ? 'X' : static_cast<char>(std::toupper(static_cast<unsigned char>(drive.front())));
}

}  // namespace

std::vector<Volume> read_volumes() {
    std::vector<Volume> volumes;
    const char own = system_drive();
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        if (letter == 'X' || letter == own) continue;
        const std::wstring root = root_of(letter);
        // A letter no volume has is DRIVE_NO_ROOT_DIR. Removable too: a Windows on a USB disk can be the one,
        // and a stick holds no hive, so it is passed over.
        const UINT type = GetDriveTypeW(root.c_str());
        if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE) continue;
        Volume volume{letter, exists(root + L"Windows\\System32\\config\\SOFTWARE"), boot_sector(letter), {}};
        volume.image_state = image_state_of(state_ini(root));
        if (volume.image_state.empty() && volume.has_windows) {
            volume.image_state = registry_image_state(root + L"Windows\\System32\\config\\SOFTWARE");
        }
        volumes.push_back(std::move(volume));
    }
    return volumes;
}

std::optional<std::uint64_t> used_bytes(char letter) {
    ULARGE_INTEGER total{}, free{};
    if (!GetDiskFreeSpaceExW(root_of(letter).c_str(), nullptr, &total, &free)) return std::nullopt;
    return total.QuadPart - free.QuadPart;
}

}  // namespace autodeploy::capture
