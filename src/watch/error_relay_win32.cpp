#include "error_relay_win32.hpp"

namespace autodeploy::watch {

UniqueHandle ErrorRelay::open() {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &attributes, 0)) return {};
    pipe_.reset(read);
    UniqueHandle writing{write};
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    return writing;
}

void ErrorRelay::start() {
    if (!pipe_) return;
    // A thread of the system's own, so that a read that a lingering grandchild keeps open can be cancelled.
    thread_.reset(CreateThread(
        nullptr, 0,
        [](void* relay) -> DWORD {
            static_cast<ErrorRelay*>(relay)->run();
            return 0;
        },
        this, 0, nullptr));
}

std::string ErrorRelay::finish() {
    if (thread_ && WaitForSingleObject(thread_.get(), 3000) == WAIT_TIMEOUT) {
        CancelSynchronousIo(thread_.get());
        WaitForSingleObject(thread_.get(), INFINITE);
    }
    thread_.reset();
    return lines_.last();
}

void ErrorRelay::run() {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe_.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        DWORD written = 0;
        if (UniqueHandle::is_valid(out_)) WriteFile(out_, buffer, got, &written, nullptr);
        lines_.feed({buffer, got});
        tail_.append(buffer, got);
        if (tail_.size() > 1 << 16) tail_.erase(0, tail_.size() - (1 << 16));
    }
}

}  // namespace autodeploy::watch
