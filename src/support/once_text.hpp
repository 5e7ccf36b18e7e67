#pragma once
// A text computed at most once per process and then kept, never destroyed, so views of it stay
// valid until the process ends. Constant-initialised: usable from any thread at any time.
#include <atomic>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>

#include "address_wait.hpp"

namespace autodeploy {

class OnceText {
public:
    constexpr OnceText() = default;
    OnceText(const OnceText&) = delete;
    OnceText& operator=(const OnceText&) = delete;
    OnceText(OnceText&&) = delete;
    OnceText& operator=(OnceText&&) = delete;
    // Deliberately leaves the text alive: views handed out must outlast static destruction.
    ~OnceText() = default;

    // The first caller runs `make`; callers racing with it block until it has finished.
    template <class Make>
    std::string_view get_or_init(Make&& make) {
        std::uint32_t state = state_.load(std::memory_order_acquire);
        while (state != kReady) {
            if (state == kEmpty && state_.compare_exchange_strong(state, kBusy, std::memory_order_acquire)) {
                ::new (static_cast<void*>(storage_)) std::string(make());
                state_.store(kReady, std::memory_order_release);
                wake_all_waiters(state_);
                break;
            }
            if (state == kBusy) {
                wait_while_equal(state_, kBusy);
                state = state_.load(std::memory_order_acquire);
            }
        }
        return *std::launder(reinterpret_cast<const std::string*>(storage_));
    }

private:
    static constexpr std::uint32_t kEmpty = 0;
    static constexpr std::uint32_t kBusy = 1;
    static constexpr std::uint32_t kReady = 2;

    std::atomic<std::uint32_t> state_{kEmpty};
    alignas(std::string) unsigned char storage_[sizeof(std::string)]{};
};

}  // namespace autodeploy
