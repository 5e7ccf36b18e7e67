#include "decoding_key.hpp"

#include "support/environment.hpp"
#include "support/utf.hpp"

namespace autodeploy {

std::optional<std::u32string> decoding_key_from_environment() {
    // Unset and not valid Unicode (a lone surrogate) both come back as nothing.
    const std::optional<std::string> value = environment_variable(L"CRYPTIFY_KEY");
    if (!value) return std::nullopt;
    return utf8_to_code_points(*value);
}

}  // namespace autodeploy
