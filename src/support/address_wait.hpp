#pragma once
// Blocking on a 32-bit atomic until it changes: WaitOnAddress on Windows, C++20 atomic waits
// elsewhere.
#include <atomic>
#include <cstdint>

namespace autodeploy {

void wait_while_equal(const std::atomic<std::uint32_t>& word, std::uint32_t value);
void wake_all_waiters(std::atomic<std::uint32_t>& word);

}  // namespace autodeploy
