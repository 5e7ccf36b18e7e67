#pragma once
// The environment's say on the decoding key: the value of "CRYPTIFY_KEY", or nothing when it is
// unset or not valid Unicode text. Platform-specific; read afresh at each call.
#include <optional>
#include <string>

namespace autodeploy {

std::optional<std::u32string> decoding_key_from_environment();

}  // namespace autodeploy
