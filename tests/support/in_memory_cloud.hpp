#pragma once

#include <unordered_map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/notification_center.hpp"
#include "platform/ubiquitous_store.hpp"

namespace quorin::testing {

class InMemoryUbiquitousStore;

// One cloud account in memory that every replica reads directly. A test plays the other
// devices: it writes values and posts the change notifications they would cause.
class InMemoryCloud {
 public:
  explicit InMemoryCloud(platform::NotificationCenter& center) : center_(center) {}

  std::unique_ptr<platform::UbiquitousStore> makeStore();

  // Another device's write, reported to every live replica as a server change.
  void writeFromOtherDevice(const std::string& key, formats::Value value);
  void removeFromOtherDevice(const std::string& key);
  // Changes the account without telling anyone, as a write still on its way would.
  void setObjectDirectly(const std::string& key, formats::Value value);
  // Posts an external change of any shape to every live replica.
  void postChange(std::optional<formats::Dictionary> userInfo);
  void postChange(platform::UbiquitousChangeReason reason, const std::vector<std::string>& keys);

  std::optional<formats::Value> value(std::string_view key) const;
  std::size_t liveStores() const;
  int synchronizeCount() const;

 private:
  friend class InMemoryUbiquitousStore;

  platform::NotificationCenter& center_;
  mutable std::mutex mutex_;
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>()(key); }
  };
  std::unordered_map<std::string, formats::Value, KeyHash, std::equal_to<>> values_;
  std::vector<const InMemoryUbiquitousStore*> stores_;
  int synchronizations_ = 0;
};

}  // namespace quorin::testing
