// The capture's choice of the Windows to capture: volumes as WinPE sees them, and what it captures or the
// line that holds the PC.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "capture/windows_choice.hpp"

namespace autodeploy::capture {
namespace {

const std::string kNtfs = std::string("\xEB\x52\x90") + "NTFS    ", kLocked = std::string("\xEB\x58\x90") + "-FVE-FS-";
const std::string kSealed{kGeneralized};

std::string outcome(const WindowsChoice& choice) {
    if (const auto* chosen = std::get_if<Chosen>(&choice)) return std::string(1, chosen->letter) + ":";
    return std::get<Refused>(choice).line.substr(std::get<Refused>(choice).line.find("。") + 3);  // the English half
}

TEST(WindowsChoice, OneGeneralizedWindowsNeverOnXElseOneLineThatSaysWhatToDo) {
    const struct {
        std::vector<Volume> volumes;
        bool not_generalized;
        const char* expected;
    } cases[] = {
        {{{'C', false, kNtfs, ""}, {'D', true, kNtfs, kSealed}, {'X', true, kNtfs, ""}}, false, "D:"},
        {{{'C', true, kNtfs, "IMAGE_STATE_COMPLETE"}}, true, "C:"},
        {{{'C', true, kNtfs, "IMAGE_STATE_COMPLETE"}},
         false,
         "The Windows on C: is not generalized (image state IMAGE_STATE_COMPLETE): run sysprep /generalize /oobe "
         "/shutdown in it first, or capture it with --not-generalized as a backup, not an image to deploy."},
        {{{'C', true, kNtfs, ""}},
         false,
         "The Windows on C: is not generalized (image state unknown): run sysprep /generalize /oobe /shutdown in it "
         "first, or capture it with --not-generalized as a backup, not an image to deploy."},
        {{{'C', false, kLocked, ""}, {'D', false, kNtfs, ""}},
         true,
         "Volume C: is locked by BitLocker, so its Windows cannot be read: decrypt it first (in Windows: manage-bde "
         "-off C:), then capture again."},
        {{{'C', true, kNtfs, kSealed}, {'E', false, kLocked, ""}}, false, "C:"},  // a locked data volume stays
        {{{'X', true, kNtfs, kSealed}, {'D', false, "", ""}},
         false,
         "No installed Windows found (no volume holds \\Windows\\System32\\config\\SOFTWARE): check that this is "
         "the reference PC and that WinPE sees its disk (diskpart, list volume)."},
        {{{'C', true, kNtfs, kSealed}, {'D', true, kNtfs, kSealed}},
         false,
         "More than one Windows found (C:, D:): a capture takes exactly one; disconnect the other disks, then "
         "capture again."},
    };
    for (const auto& c : cases) EXPECT_EQ(outcome(choose_windows(c.volumes, c.not_generalized)), c.expected);
}

TEST(WindowsChoice, TheImageStateOfStateIniInEitherEncoding) {
    const std::string utf16("\xFF\xFE[\0S\0t\0a\0t\0e\0]\0\r\0\n\0I\0m\0a\0g\0e\0S\0t\0a\0t\0e\0=\0X\0", 44);
    const struct {
        std::string ini;
        const char* expected;
    } cases[] = {
        {"[State]\r\nImageState=IMAGE_STATE_GENERALIZE_RESEAL_TO_OOBE\r\n", "IMAGE_STATE_GENERALIZE_RESEAL_TO_OOBE"},
        {"[other]\nImageState=A\n[STATE]\n imagestate = \"B\" \n", "B"},
        {"ImageState=A\n[State]\n", ""},
        {utf16, "X"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(image_state_of(c.ini), c.expected) << c.ini;
}

}  // namespace
}  // namespace autodeploy::capture
