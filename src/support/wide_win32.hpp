#pragma once
// UTF-8 <-> UTF-16 at the Win32 boundary (wchar_t is 16 bits there).
#include <optional>
#include <string>
#include <string_view>

#include "utf.hpp"

namespace autodeploy {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 code only");

inline std::wstring widen(std::string_view text) {
    const std::u16string wide = utf8_to_utf16(text);
    return {reinterpret_cast<const wchar_t*>(wide.data()), wide.size()};
}

inline std::u16string_view as_utf16(std::wstring_view text) {
    return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}

inline std::optional<std::string> narrow(std::wstring_view text) { return utf16_to_utf8(as_utf16(text)); }

}  // namespace autodeploy
