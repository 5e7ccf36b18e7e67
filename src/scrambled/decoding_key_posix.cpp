#include "decoding_key.hpp"

#include <cstdlib>

#include "support/utf.hpp"

namespace autodeploy {

std::optional<std::u32string> decoding_key_from_environment() {
    const char* value = std::getenv("CRYPTIFY_KEY");
    if (value == nullptr) return std::nullopt;
    return utf8_to_code_points(value);
}

}  // namespace autodeploy
