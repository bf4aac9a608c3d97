#pragma once

#include <sys/types.h>

#include <filesystem>

namespace quorin::testing {

// Another process holding a directory cloud account's write lock, as a device mid-write (or
// a long transaction) does, until release(). Fork it before this process starts threads, so
// that the child inherits no lock a thread held.
class AccountLockHolder {
 public:
  explicit AccountLockHolder(const std::filesystem::path& account);
  ~AccountLockHolder() { release(); }
  AccountLockHolder(const AccountLockHolder&) = delete;
  AccountLockHolder& operator=(const AccountLockHolder&) = delete;

  bool held() const { return held_; }
  // True when the other process let go and ended cleanly.
  bool release();

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool held_ = false;
};

}  // namespace quorin::testing
