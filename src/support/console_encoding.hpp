#pragma once
// The console rule: which form of our UTF-8 text a standard handle takes. A console draws bytes
// in its output code page, so one whose code page is not UTF-8 gets UTF-16 (WriteConsoleW);
// files, pipes and UTF-8 consoles get the UTF-8 bytes as they are. The code page is never changed.
#include <cstdint>

namespace autodeploy {

enum class ConsoleEncoding { Utf8Bytes, Utf16 };

inline constexpr std::uint32_t kUtf8CodePage = 65001;  // CP_UTF8

// `is_console`: the handle is a console (GetConsoleMode succeeds on it); `output_code_page`: the
// process's console output code page (GetConsoleOutputCP).
constexpr ConsoleEncoding console_encoding(bool is_console, std::uint32_t output_code_page) {
    return is_console && output_code_page != kUtf8CodePage ? ConsoleEncoding::Utf16 : ConsoleEncoding::Utf8Bytes;
}

}  // namespace autodeploy
