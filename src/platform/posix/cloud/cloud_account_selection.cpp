#include "platform/posix/cloud/cloud_account_selection.hpp"

namespace quorin::platform::posix {

std::string CloudAccountSelection::location() const {
  std::lock_guard lock(mutex_);
  return location_;
}

void CloudAccountSelection::switchTo(std::string location) {
  std::lock_guard lock(mutex_);
  if (location == location_) return;
  location_ = std::move(location);
  for (auto& [id, listener] : listeners_) listener();
}

CloudAccountSelection::ListenerId CloudAccountSelection::listen(std::function<void()> onSwitch) {
  std::lock_guard lock(mutex_);
  listeners_.emplace(nextId_, std::move(onSwitch));
  return nextId_++;
}

void CloudAccountSelection::unlisten(ListenerId id) {
  std::lock_guard lock(mutex_);
  listeners_.erase(id);
}

}  // namespace quorin::platform::posix
