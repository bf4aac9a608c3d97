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

#include "platform/common/local_notification_center.hpp"
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

// One device: a replica with its own journal directory, and the changes it reported, on
// whichever thread reported them. A watching device hears other devices' writes unasked, as
// the facade's does; the other exchanges only when a test asks, so that what one exchange
// reports is there when it returns, never posted late by the store's own exchange.
class CloudDevice {
 public:
  enum class Sync { watching, whenAsked };
  CloudDevice(std::shared_ptr<platform::posix::CloudAccountSelection> account,
              const std::filesystem::path& journals,
              platform::common::LocalNotificationCenter& center, Sync sync = Sync::watching);
  ~CloudDevice();

  std::vector<CloudChange> takeChanges();
  // Waits for a change to arrive without a local call, as the account's watcher delivers it.
  bool waitForChange(std::chrono::seconds limit = std::chrono::seconds(10));
  std::optional<std::string> text(std::string_view key) const;

 private:
  void record(const platform::Notification& notification);

  platform::common::LocalNotificationCenter& center_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<CloudChange> changes_;

 public:
  platform::posix::ReplicaUbiquitousStore store;
};

}  // namespace quorin::testing
