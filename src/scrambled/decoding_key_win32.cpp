#include "decoding_key.hpp"

#include "support/environment.hpp"
#include "support/wide_win32.hpp"

namespace autodeploy {

std::optional<std::u32string> decoding_key_from_environment() {
    const std::optional<std::wstring> value = environment_variable_utf16(L"CRYPTIFY_KEY");
    if (!value) return std::nullopt;
    // Nothing too for a lone surrogate: such a value is not valid Unicode text.
    return utf16_to_code_points(as_utf16(*value));
}

}  // namespace autodeploy
