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
// A report of STAGE_AND_VALUES ("stage=WORD" and its values, encoded), this PC's mac=, make= and model= with it.
std::string report_request_of(const Settings& settings, std::string_view stage_and_values);
// The requests for this PC's own answer file and its settings file (a capture's, on a capture medium).
std::string answer_file_request(const Settings& settings);
std::string settings_file_request(const Settings& settings);
// A response's body (200 only), and its status (0 when it is no HTTP response).
std::optional<std::string> body_of(std::string_view response);
int status_of(std::string_view response);

}  // namespace autodeploy::watch
