#pragma once
// Move-only owner of a Win32 HANDLE. Process and thread handles use NULL for "none", file
// handles INVALID_HANDLE_VALUE: the owner treats both as empty and closes anything else.
#include <utility>

#include "win32.hpp"

namespace autodeploy {

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    [[nodiscard]] HANDLE get() const { return handle_; }
    [[nodiscard]] bool valid() const { return is_valid(handle_); }
    explicit operator bool() const { return valid(); }

    [[nodiscard]] HANDLE release() { return std::exchange(handle_, nullptr); }
    void reset(HANDLE handle = nullptr) {
        if (is_valid(handle_)) CloseHandle(handle_);
        handle_ = handle;
    }

    static bool is_valid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_ = nullptr;
};

// Both handles of a started child, closed together.
struct ChildProcess {
    UniqueHandle process;
    UniqueHandle thread;
};

}  // namespace autodeploy
