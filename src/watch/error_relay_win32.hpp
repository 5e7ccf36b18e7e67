#pragma once
// autodeploy's standard error through a pipe, where there is no console to read its Error line back from:
// a thread passes the bytes on unchanged and keeps the last Error line on the way. Also dism's output while
// it adds drivers, shown as it comes and read afterwards for its own Error line.
#include <string>

#include "error_line.hpp"
#include "support/unique_handle_win32.hpp"

namespace autodeploy::watch {

class ErrorRelay {
public:
    explicit ErrorRelay(HANDLE out) : out_(out) {}  // OUT: where the bytes go on to (not owned)
    ErrorRelay(const ErrorRelay&) = delete;
    ErrorRelay& operator=(const ErrorRelay&) = delete;
    ~ErrorRelay() { (void)finish(); }

    // The pipe's writing end, inheritable, for the child; empty when no pipe could be made.
    UniqueHandle open();
    // Relays from now on, when there is a pipe.
    void start();
    // Waits for the end of the bytes (3 s, then the read is cancelled), and the last Error line.
    std::string finish();
    // The last bytes that came through (64 KiB at most), once finished.
    const std::string& tail() const { return tail_; }

private:
    void run();

    UniqueHandle pipe_, thread_;
    HANDLE out_;
    ErrorLineOfStream lines_;
    std::string tail_;
};

}  // namespace autodeploy::watch
