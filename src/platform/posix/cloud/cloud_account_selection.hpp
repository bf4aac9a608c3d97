#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/cloud_account.hpp"

namespace quorin::platform::posix {

// How a location becomes an account. Only the platform's composition knows every kind, so
// the device side here stays free of any one backend.
struct CloudAccountKinds {
  std::function<std::unique_ptr<CloudAccount>(const std::string& location)> open;
  // What names the account in the device's own records, however the location is written.
  std::function<std::string(const std::string& location)> identity;
};

// The cloud account a device syncs through: a directory, or a `redis://`, `rediss://` or
// `unix://` URL. The host may switch it while stores are open; each store then moves to the
// new account on its next exchange.
class CloudAccountSelection {
 public:
  using ListenerId = std::uint64_t;

  CloudAccountSelection(std::string location, CloudAccountKinds kinds)
      : kinds_(std::move(kinds)), location_(std::move(location)) {}

  const CloudAccountKinds& kinds() const { return kinds_; }

  std::string location() const;
  // Tells every listener, on the calling thread; listeners must not block.
  void switchTo(std::string location);

  ListenerId listen(std::function<void()> onSwitch);
  // Once it returns, the listener is not running and is never called again.
  void unlisten(ListenerId id);

 private:
  const CloudAccountKinds kinds_;
  mutable std::mutex mutex_;
  std::string location_;
  std::map<ListenerId, std::function<void()>> listeners_;
  ListenerId nextId_ = 1;
};

}  // namespace quorin::platform::posix
