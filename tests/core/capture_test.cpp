// The capture's choice of the Windows to capture: volumes as WinPE sees them, and what it captures or the
// line that holds the PC; its settings, and what it hands net, dism and the room server.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "capture/capture_commands.hpp"
#include "capture/capture_lines.hpp"
#include "capture/windows_choice.hpp"
#include "watch/report_request.hpp"

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

// What the settings take: each row's lines after good ones; what net, dism and a report get then, or "-" when the
// capture has not enough to go on.
TEST(CaptureSettings, EachKeyTakesOnlyAValueOfItsKindAndTheCommandLinesFollow) {
    const std::string good = "capture=\\\\10.0.0.1\\images\\ref-1.wim\nuser=pc_01\npassword=Secret.9\n";
    const std::string taken = R"(use \\10.0.0.1\images Secret.9 /user:pc_01 | /Capture-Image )"
                              R"(/ImageFile:\\10.0.0.1\images\ref-1.wim /CaptureDir:D:\ /Name:Windows /Compress:max )"
                              R"(/CheckIntegrity | generalized)";
    const std::string u64(64, 'u');
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {good, taken},
        {good + "capture-name=Lab 7 参考机\r\nnot-generalized=yes\n",
         R"(use \\10.0.0.1\images Secret.9 /user:pc_01 | /Capture-Image /ImageFile:\\10.0.0.1\images\ref-1.wim )"
         R"(/CaptureDir:D:\ /Name:Lab 7 参考机 /Compress:max /CheckIntegrity | not generalized)"},
        {good + "capture-name=say \"no\"\nnot-generalized=YES\ncapture-name=" + std::string(101, 'n') +
             "\ncapture-name=tab\there\ncapture-name=\n",
         taken},
        {good + R"(capture=\\10.0.0.1\images\ref.esd
capture=\\server\images\a.wim
capture=\\10.0.0.256\i\a.wim
capture=\\10.0.0.2\im ages\a.wim
capture=\\10.0.0.2\i\sub\a.wim
capture=\\10.0.0.2\i\.wim
capture=//10.0.0.2/i/a.wim
capture=\\10.0.0.2\i\a&b.wim
capture=\\10.0.0.2\\a.wim
capture=
user=a b
password=p"w
password=
user=)" + u64 +
             "u\n",
         taken},
        {R"(capture=\\10.0.0.1\images\REF.WIM)"
         "\nuser=" +
             u64 + "\npassword=p\n",
         R"(use \\10.0.0.1\images p /user:)" + u64 +
             R"( | /Capture-Image /ImageFile:\\10.0.0.1\images\REF.WIM /CaptureDir:D:\ /Name:Windows /Compress:max )"
             R"(/CheckIntegrity | generalized)"},
        {"user=pc_01\npassword=Secret.9\n", "-"},
        {"capture=\\\\10.0.0.1\\images\\ref-1.wim\npassword=Secret.9\n", "-"},
        {"capture=\\\\10.0.0.1\\images\\ref-1.wim\nuser=pc_01\n", "-"},
    };
    for (const auto& c : cases) {
        CaptureSettings settings;
        read_capture_file(c.text, settings);
        std::string got = complete(settings) ? "" : "-";
        if (got.empty()) {
            for (const std::string& word : net_use_arguments(settings)) got += (got.empty() ? "" : " ") + word;
            got += " |";
            for (const std::string& word : capture_arguments(settings, 'D')) got += " " + word;
            got += settings.not_generalized ? " | not generalized" : " | generalized";
        }
        EXPECT_EQ(got, c.expected) << c.text;
    }
}

TEST(CaptureSettings, TheReportsCarryThePcAsTheWatchsDo) {
    watch::Settings pc;
    pc.server = watch::Server{"10.0.0.1", 8080};
    pc.mac = "52:54:00:77:00:01";
    pc.model = "T14";
    const std::string head = " HTTP/1.1\r\nHost: 10.0.0.1:8080\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(capture_report(pc, kFound, 123456789012),
              "GET /report?mac=52:54:00:77:00:01&stage=capture-found&bytes="
              "123456789012&model=T14" +
                  head);
    EXPECT_EQ(capture_report(watch::Settings{}, kCaptured, std::nullopt),
              "GET /report?stage=captured HTTP/1.1\r\nHost: -\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(watch::settings_file_request(pc), "GET /pc.txt?mac=52:54:00:77:00:01" + head);
    EXPECT_EQ(watch::status_of("HTTP/1.1 507 Insufficient Storage\r\n\r\n"), 507);
    EXPECT_EQ(watch::status_of("HTTP/1.1 20 OK\r\n"), 0);
    // The room server's table gets the English half of a line whole.
    EXPECT_EQ(reported_half(no_room_line()),
              "The room server has no room for this PC's image: free space in its "
              "work folder, then restart this PC by hand.");
    EXPECT_EQ(reported_half("capturing: Error: 5"), "capturing: Error: 5");
}

}  // namespace
}  // namespace autodeploy::capture
