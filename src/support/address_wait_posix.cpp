#include "address_wait.hpp"

namespace autodeploy {

void wait_while_equal(const std::atomic<std::uint32_t>& word, std::uint32_t value) {
    word.wait(value, std::memory_order_acquire);
}

void wake_all_waiters(std::atomic<std::uint32_t>& word) { word.notify_all(); }

}  // namespace autodeploy
