#include "platform/common/local_notification_center.hpp"

#include <algorithm>

namespace quorin::platform::common {

void LocalNotificationCenter::addObserver(const void* observer, std::string name,
                                          const void* object, NotificationHandler handler) {
  std::lock_guard lock(mutex_);
  registrations_.push_back(
      {nextToken_++, observer, std::move(name), object, nullptr, std::move(handler)});
}

void LocalNotificationCenter::removeObserver(const void* observer, std::string_view name,
                                             const void* object) {
  // Handlers are released after the lock: their captures may own anything.
  std::vector<Registration> removed;
  std::lock_guard lock(mutex_);
  std::erase_if(registrations_, [&](Registration& r) {
    bool match = r.observer == observer && r.name == name && r.object == object;
    if (match) removed.push_back(std::move(r));
    return match;
  });
}

ObserverToken LocalNotificationCenter::addObserverForName(std::string name, const void* object,
                                                          SerialQueue& queue,
                                                          NotificationHandler block) {
  std::lock_guard lock(mutex_);
  ObserverToken token = nextToken_++;
  registrations_.push_back({token, nullptr, std::move(name), object, &queue, std::move(block)});
  return token;
}

void LocalNotificationCenter::removeObserver(ObserverToken token) {
  std::vector<Registration> removed;
  std::lock_guard lock(mutex_);
  std::erase_if(registrations_, [&](Registration& r) {
    bool match = r.token == token;
    if (match) removed.push_back(std::move(r));
    return match;
  });
}

void LocalNotificationCenter::post(const Notification& notification) {
  std::vector<Registration> targets;
  {
    std::lock_guard lock(mutex_);
    for (const auto& r : registrations_) {
      if (r.name == notification.name && (r.object == nullptr || r.object == notification.object))
        targets.push_back(r);
    }
  }
  for (auto& target : targets) {
    if (target.queue == nullptr) {
      target.handler(notification);
    } else {
      target.queue->async(
          [handler = std::move(target.handler), notification] { handler(notification); });
    }
  }
}

std::size_t LocalNotificationCenter::observerCount() const {
  std::lock_guard lock(mutex_);
  return registrations_.size();
}

}  // namespace quorin::platform::common
