#pragma once

#include <mutex>
#include <vector>

#include "platform/notification_center.hpp"

namespace quorin::platform::common {

class LocalNotificationCenter final : public NotificationCenter {
 public:
  void addObserver(const void* observer, std::string name, const void* object,
                   NotificationHandler handler) override;
  void removeObserver(const void* observer, std::string_view name, const void* object) override;
  ObserverToken addObserverForName(std::string name, const void* object, SerialQueue& queue,
                                   NotificationHandler block) override;
  void removeObserver(ObserverToken token) override;
  void post(const Notification& notification) override;

  std::size_t observerCount() const;

 private:
  struct Registration {
    ObserverToken token;
    const void* observer;  // nullptr for a block observer
    std::string name;
    const void* object;
    SerialQueue* queue;  // nullptr: delivered on the posting thread
    NotificationHandler handler;
  };

  mutable std::mutex mutex_;
  std::vector<Registration> registrations_;
  ObserverToken nextToken_ = 1;
};

}  // namespace quorin::platform::common
