#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "formats/value.hpp"
#include "platform/dispatch.hpp"

namespace quorin::platform {

struct Notification {
  std::string name;
  // The sender, compared by identity; observers registered for nullptr see every sender.
  const void* object = nullptr;
  std::optional<formats::Dictionary> userInfo;
};

using NotificationHandler = std::function<void(const Notification&)>;
using ObserverToken = std::uint64_t;

// Observers registered with addObserver() run on the posting thread, inside post(); block
// observers run on the queue they name. Handlers are called without any lock held, so they
// may add and remove observers.
class NotificationCenter {
 public:
  virtual ~NotificationCenter() = default;

  virtual void addObserver(const void* observer, std::string name, const void* object,
                           NotificationHandler handler) = 0;
  virtual void removeObserver(const void* observer, std::string_view name, const void* object) = 0;

  virtual ObserverToken addObserverForName(std::string name, const void* object, SerialQueue& queue,
                                           NotificationHandler block) = 0;
  virtual void removeObserver(ObserverToken token) = 0;

  virtual void post(const Notification& notification) = 0;
};

}  // namespace quorin::platform
