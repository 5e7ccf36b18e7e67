#pragma once
// Every line the watch itself prints on the PC's screen, without a line end; autodeploy's own lines pass
// through unchanged.
#include <cstdint>
#include <string>
#include <string_view>

namespace autodeploy::watch {

// A transfer broke off and try ATTEMPT (of kTries) begins: Chinese, then English.
std::string starting_over_line(int attempt);

// autodeploy could not be started: an Error line of autodeploy's own form, also the one reported.
std::string cannot_start_line(std::string_view program, std::uint32_t os_error);
// Whether a failed run's Error line is that one, which only the watch can show.
bool is_cannot_start_line(std::string_view line);

}  // namespace autodeploy::watch
