#pragma once

#include <algorithm>
#include <chrono>

namespace quorin::platform::common {

// The wait before trying again: doubled with each failure up to a ceiling, and the first
// again once a try succeeds, so that a place gone away is not hammered and one back is found
// soon.
class RetryDelay {
 public:
  RetryDelay(std::chrono::milliseconds first, std::chrono::milliseconds longest)
      : first_(first), longest_(longest), next_(first) {}

  // The wait after this failure; the one after the next failure is twice as long.
  std::chrono::milliseconds afterFailure() {
    auto wait = next_;
    next_ = std::min(next_ * 2, longest_);
    return wait;
  }
  void reset() { next_ = first_; }

 private:
  std::chrono::milliseconds first_;
  std::chrono::milliseconds longest_;
  std::chrono::milliseconds next_;
};

}  // namespace quorin::platform::common
