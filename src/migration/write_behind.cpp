#include "migration/write_behind.hpp"

#include <system_error>
#include <utility>

namespace quorin::migration {

bool WriteBehind::append(std::string& bytes) {
  std::unique_lock lock(mutex_);
  if (!thread_.joinable() && !alone_) {
    try {
      thread_ = std::thread(&WriteBehind::run, this);
    } catch (const std::system_error&) {
      alone_ = true;
    }
  }
  if (alone_) {
    failed_ = failed_ || !writer_.append(bytes);
    bytes.clear();
    return !failed_;
  }
  changed_.wait(lock, [this] { return !busy_; });
  pending_.clear();
  std::swap(pending_, bytes);
  busy_ = true;
  changed_.notify_all();
  return !failed_;
}

void WriteBehind::run() {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return busy_ || finishing_; });
    if (!busy_) return;
    lock.unlock();
    bool written = writer_.append(pending_);
    lock.lock();
    failed_ = failed_ || !written;
    busy_ = false;
    changed_.notify_all();
  }
}

bool WriteBehind::finish() {
  {
    std::lock_guard lock(mutex_);
    finishing_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  finishing_ = false;
  return !failed_;
}

}  // namespace quorin::migration
