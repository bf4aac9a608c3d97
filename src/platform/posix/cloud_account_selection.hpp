#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>

namespace quorin::platform::posix {

// The cloud account directory a device syncs through. The host may switch it while stores
// are open; each store then moves to the new account on its next exchange.
class CloudAccountSelection {
 public:
  using ListenerId = std::uint64_t;

  explicit CloudAccountSelection(std::filesystem::path directory)
      : directory_(std::move(directory)) {}

  std::filesystem::path directory() const;
  // Tells every listener, on the calling thread; listeners must not block.
  void switchTo(std::filesystem::path directory);

  ListenerId listen(std::function<void()> onSwitch);
  // Once it returns, the listener is not running and is never called again.
  void unlisten(ListenerId id);

 private:
  mutable std::mutex mutex_;
  std::filesystem::path directory_;
  std::map<ListenerId, std::function<void()>> listeners_;
  ListenerId nextId_ = 1;
};

}  // namespace quorin::platform::posix
