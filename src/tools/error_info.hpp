#pragma once
// The platform's error-information service: registers a failure's text with its result code and
// reads back the description that the captured error object carries.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace autodeploy {

// The captured object's description for `text` registered under `result_code`; nothing where the
// service is missing, known to be broken (Wine's stubs end the process), or captures nothing.
std::optional<std::string> originate_error_description(std::uint32_t result_code, std::string_view text);

}  // namespace autodeploy
