#include "platform/posix/cloud_account_selection.hpp"

namespace quorin::platform::posix {

std::filesystem::path CloudAccountSelection::directory() const {
  std::lock_guard lock(mutex_);
  return directory_;
}

void CloudAccountSelection::switchTo(std::filesystem::path directory) {
  std::lock_guard lock(mutex_);
  if (directory == directory_) return;
  directory_ = std::move(directory);
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
