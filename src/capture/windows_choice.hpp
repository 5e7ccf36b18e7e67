#pragma once
// The capture's decisions without a PC: which volume holds the one Windows to capture, whether it was
// generalized, and each refusal as one line, Chinese then English, that holds the PC's screen. What the
// volumes hold (their letters, the Windows in them, their boot sectors, the image state) is read by the
// Win32 layer; nothing here touches a disk.
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace autodeploy::capture {

// What sysprep /generalize /oobe leaves: only such a Windows is an image for other PCs.
inline constexpr std::string_view kGeneralized = "IMAGE_STATE_GENERALIZE_RESEAL_TO_OOBE";

struct Volume {
    char letter = '?';
    bool has_windows = false;  // \Windows\System32\config\SOFTWARE is there
    std::string boot_sector;   // its first bytes, as read (a locked BitLocker volume names "-FVE-FS-")
    std::string image_state;   // its Windows' ImageState (State.ini, else the offline registry); empty: unknown
};

struct Chosen {
    char letter;
};
struct Refused {
    std::string line;
};
using WindowsChoice = std::variant<Chosen, Refused>;

// [State] ImageState of a State.ini's bytes (UTF-16 or 8-bit, either line end), trimmed; empty without one.
std::string image_state_of(std::string_view state_ini);
// A BitLocker volume's boot sector names its file system "-FVE-FS-" at byte 3.
bool locked_by_bitlocker(std::string_view boot_sector);
// The one Windows to capture, never on WinPE's own X:; NOT_GENERALIZED: the operator takes a Windows that
// was not generalized on purpose (a backup, not an image to deploy).
WindowsChoice choose_windows(const std::vector<Volume>& volumes, bool not_generalized);

}  // namespace autodeploy::capture
