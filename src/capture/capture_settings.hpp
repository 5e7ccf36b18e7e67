#pragma once
// What a capture needs to know, from the lines of autodeploy-server.txt beside the program (the watch's file:
// the watch ignores these keys) or, on a capture medium, from the room server's answer to /pc.txt:
//   capture=\\ADDRESS\SHARE\FILE.wim   the file dism writes, on the room server's share
//   user=NAME  password=TEXT            the share's credentials for this PC
//   capture-name=TEXT                   dism's /Name (default "Windows")
//   not-generalized=yes                 the operator takes a Windows that was not generalized, on purpose
// A value that is not of its kind is left out, as in the watch's files.
#include <optional>
#include <string>
#include <string_view>

namespace autodeploy::capture {

// \\ADDRESS\SHARE\FILE: a dotted IPv4 address (no name to resolve in WinPE), SHARE and FILE of
// [A-Za-z0-9._-] (nothing to quote or escape on any command line), FILE ending .wim.
struct ImageOnShare {
    std::string address, share, file;
};

struct CaptureSettings {
    std::optional<ImageOnShare> image;
    std::string user, password;
    std::string name = "Windows";
    bool not_generalized = false;
};

inline constexpr std::size_t kNameBytes = 100;
inline constexpr std::size_t kCredentialBytes = 64;

void read_capture_file(std::string_view text, CaptureSettings& settings);
// The file's place in that form, or nothing when it is not of that form.
std::optional<ImageOnShare> image_on_share(std::string_view unc);
// Whether SETTINGS say enough to capture: the file and both credentials.
bool complete(const CaptureSettings& settings);

// \\ADDRESS\SHARE, as net use takes it, and \\ADDRESS\SHARE\FILE, as dism writes it.
std::string share_path(const ImageOnShare& image);
std::string file_path(const ImageOnShare& image);

}  // namespace autodeploy::capture
