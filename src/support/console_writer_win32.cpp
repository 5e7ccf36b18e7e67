#include "console_writer.hpp"

#include "console_chunks.hpp"
#include "console_encoding.hpp"
#include "support/wide_win32.hpp"
#include "support/win32.hpp"

namespace autodeploy {

namespace {

bool write_bytes(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

bool write_console(HANDLE handle, std::string_view utf8) {
    for (const std::string_view chunk : utf8_chunks(utf8)) {
        const std::wstring wide = widen(chunk);
        std::wstring_view rest = wide;
        while (!rest.empty()) {
            DWORD written = 0;
            if (!WriteConsoleW(handle, rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr) ||
                written == 0) {
                return false;
            }
            rest.remove_prefix(written);
        }
    }
    return true;
}

}  // namespace

WriteOutcome write_text(StandardStream stream, std::string_view utf8) {
    const HANDLE handle = GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return WriteOutcome::NoHandle;
    DWORD mode = 0;
    const bool is_console = GetConsoleMode(handle, &mode) != 0;
    const bool written = console_encoding(is_console, GetConsoleOutputCP()) == ConsoleEncoding::Utf16
                             ? write_console(handle, utf8)
                             : write_bytes(handle, utf8);
    return written ? WriteOutcome::Written : WriteOutcome::Failed;
}

}  // namespace autodeploy
