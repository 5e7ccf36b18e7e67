#include "address_wait.hpp"

#include "win32.hpp"

namespace autodeploy {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));

void wait_while_equal(const std::atomic<std::uint32_t>& word, std::uint32_t value) {
    // WaitOnAddress may return spuriously: look again each time.
    while (word.load(std::memory_order_acquire) == value) {
        auto* address = const_cast<std::atomic<std::uint32_t>*>(&word);
        WaitOnAddress(address, &value, sizeof value, INFINITE);
    }
}

void wake_all_waiters(std::atomic<std::uint32_t>& word) {
    // Every waiter must see the change, not just one of them.
    WakeByAddressAll(&word);
}

}  // namespace autodeploy
