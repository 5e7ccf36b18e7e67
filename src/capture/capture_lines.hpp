#pragma once
// Every line the capture program prints on the PC's screen, Chinese then English, without a line end; the
// refusals of windows_choice.hpp aside. dism's and net's own lines pass through unchanged.
#include <string>
#include <string_view>

namespace autodeploy::capture {

// No capture= in the settings beside the program, nor from the room server (exit 2).
std::string no_settings_line();
// Said once while the room server (ADDRESS:PORT) does not answer yet: WinPE's network may still come up.
std::string waiting_for_server_line(std::string_view server);
// The room server answered the capture-found report with 507.
std::string no_room_line();
// net use failed: SHARE as \\ADDRESS\SHARE, ENDED its exit code (or why it did not run).
std::string cannot_connect_line(std::string_view share, std::string_view ended);
std::string capturing_line(char letter, std::string_view file);
// dism failed; ERROR is what is reported ("capturing: Error: N (message)").
std::string capture_failed_line(std::string_view error);
std::string captured_line();
// wpeutil shutdown failed (WHY); the image is whole all the same.
std::string shutdown_failed_line(std::string_view why);
// What the room server is told of a line: its English half (after the Chinese half's full stop), which the
// server's table shows and its report's 300 bytes hold whole; a line without one as it is.
std::string reported_half(std::string_view line);

}  // namespace autodeploy::capture
