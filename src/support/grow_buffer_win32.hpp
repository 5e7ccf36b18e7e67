#pragma once
// One loop for the Win32 calls that fill a caller's fixed-size text buffer.
#include <cstdint>
#include <string>

#include "win32.hpp"

namespace autodeploy {

struct GrownText {
    std::wstring text;
    DWORD error = ERROR_SUCCESS;  // set when the call failed; `text` is then empty
};

// `fill(buffer, capacity)` returns what the Win32 call returned. Two answers mean "too small":
// a size larger than the capacity (GetTempPathW, GetSystemDirectoryW, GetEnvironmentVariableW:
// the size needed, NUL included), or exactly the capacity with ERROR_INSUFFICIENT_BUFFER
// (GetModuleFileNameW: the text was cut). Any other answer below or equal to the capacity is the
// text's length without its NUL; 0 is a failure unless `zero_is_empty`.
template <class Fill>
GrownText fill_growing(Fill&& fill, bool zero_is_empty = false) {
    constexpr DWORD kLargest = 0xFFFFFFFFu;
    DWORD capacity = 512;
    std::wstring buffer;
    for (;;) {
        buffer.resize(capacity);
        SetLastError(ERROR_SUCCESS);
        const DWORD answer = fill(buffer.data(), capacity);
        const DWORD error = GetLastError();
        if (answer == 0) {
            if (zero_is_empty && error == ERROR_SUCCESS) return {};
            return {{}, error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error};
        }
        if (answer > capacity) {
            capacity = answer;
        } else if (answer == capacity) {
            // A full buffer with no word of being too small leaves the text's end unknown.
            if (error != ERROR_INSUFFICIENT_BUFFER) return {{}, ERROR_INSUFFICIENT_BUFFER};
            if (capacity == kLargest) return {{}, ERROR_INSUFFICIENT_BUFFER};
            capacity = capacity > kLargest / 2 ? kLargest : capacity * 2;
        } else {
            buffer.resize(answer);
            return {std::move(buffer), ERROR_SUCCESS};
        }
    }
}

}  // namespace autodeploy
