#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace quorin::testing {

// Waits until `done` holds, on real processes and threads, which no test clock drives: a
// hang check, not a time the test expects. False when `limit` passed first.
inline bool eventually(const std::function<bool()>& done,
                       std::chrono::seconds limit = std::chrono::seconds(20)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace quorin::testing
