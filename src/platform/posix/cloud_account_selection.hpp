#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace quorin::platform::posix {

// The cloud account a device syncs through: a directory, or a `redis://`, `rediss://` or
// `unix://` URL. The host may switch it while stores are open; each store then moves to the new
// account on its next exchange.
class CloudAccountSelection {
 public:
  using ListenerId = std::uint64_t;

  explicit CloudAccountSelection(std::string location) : location_(std::move(location)) {}

  std::string location() const;
  // Tells every listener, on the calling thread; listeners must not block.
  void switchTo(std::string location);

  ListenerId listen(std::function<void()> onSwitch);
  // Once it returns, the listener is not running and is never called again.
  void unlisten(ListenerId id);

 private:
  mutable std::mutex mutex_;
  std::string location_;
  std::map<ListenerId, std::function<void()>> listeners_;
  ListenerId nextId_ = 1;
};

}  // namespace quorin::platform::posix
