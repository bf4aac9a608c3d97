#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/common/notification_center.hpp"
#include "platform/posix/cloud/replica_ubiquitous_store.hpp"

namespace quorin::testing {

struct CloudChange {
  std::int64_t reason;
  std::vector<std::string> keys;
  friend bool operator==(const CloudChange&, const CloudChange&) = default;
};

inline void PrintTo(const CloudChange& change, std::ostream* out) {
  *out << "reason " << change.reason << ":";
  for (const auto& key : change.keys) *out << " " << key;
}

inline CloudChange cloudChange(platform::UbiquitousChangeReason reason,
                               std::vector<std::string> keys) {
  return {static_cast<std::int64_t>(reason), std::move(keys)};
}

// One device: a replica with its own journal directory, watching the account from the
// start, and the changes it reported, on whichever thread reported them.
class CloudDevice {
 public:
  CloudDevice(std::shared_ptr<platform::posix::CloudAccountSelection> account,
              const std::filesystem::path& journals,
              platform::posix::LocalNotificationCenter& center);
  ~CloudDevice();

  std::vector<CloudChange> takeChanges();
  // Waits for a change to arrive without a local call, as the account's watcher delivers it.
  bool waitForChange(std::chrono::seconds limit = std::chrono::seconds(10));
  // A background exchange may have taken a write from under an explicit one, and posts what
  // it refused only after letting go of the store: wait for that one change to be reported.
  bool waitForChangeOf(const CloudChange& wanted,
                       std::chrono::seconds limit = std::chrono::seconds(10));
  std::optional<std::string> text(std::string_view key) const;

 private:
  void record(const platform::Notification& notification);

  platform::posix::LocalNotificationCenter& center_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<CloudChange> changes_;

 public:
  platform::posix::ReplicaUbiquitousStore store;
};

}  // namespace quorin::testing
