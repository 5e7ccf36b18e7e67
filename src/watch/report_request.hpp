#pragma once
// A report as the room server reads it: one HTTP GET of /report, its values in the query, the
// connection closed after it. Every value is percent-encoded; the Error line, the make and the model are cut
// to what the server keeps, on a whole UTF-8 character.
#include <optional>
#include <string>
#include <string_view>

#include "deployment_watch.hpp"
#include "watch_settings.hpp"

namespace autodeploy::watch {

inline constexpr std::size_t kErrorBytes = 300;
inline constexpr std::size_t kFirmwareBytes = 64;  // make= and model=

std::string_view stage_word(Stage stage);
std::string percent_encoded(std::string_view text);
std::string report_request(const Settings& settings, const Report& report);
// The request for this PC's own answer file, and its body out of the server's whole response (200 only).
std::string answer_file_request(const Settings& settings);
std::optional<std::string> answer_of(std::string_view response);

}  // namespace autodeploy::watch
