#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/notification_center.hpp"
#include "platform/posix/cloud_account_database.hpp"
#include "platform/posix/cloud_account_selection.hpp"
#include "platform/posix/directory_watcher.hpp"
#include "platform/ubiquitous_store.hpp"

namespace quorin::platform::posix {

// One device's replica of a cloud account kept in a directory. Reads and writes touch the
// local copy; synchronize() pushes local writes, then pulls what other devices wrote, and
// reports what changed as the external-change notification. A watcher thread runs the
// same exchange whenever another process writes the account.
class DirectoryUbiquitousStore final : public UbiquitousStore {
 public:
  DirectoryUbiquitousStore(std::shared_ptr<CloudAccountSelection> account,
                           NotificationCenter& center);
  ~DirectoryUbiquitousStore() override;

  std::optional<Value> objectForKey(std::string_view key) const override;
  // A value a property list cannot hold is not stored.
  void setObject(Value value, std::string_view key) override;
  void removeObject(std::string_view key) override;
  bool synchronize() override;

  // Why the account cannot be used, or none.
  std::optional<std::string> problem();

 private:
  // Changed keys in the order found, each once.
  struct Keys {
    std::vector<std::string> list;
    std::unordered_set<std::string> seen;
    void add(const std::string& key) {
      if (seen.insert(key).second) list.push_back(key);
    }
  };

  void record(std::string_view key, std::optional<std::string> encoded);
  bool push(Keys& refused, Keys& changed);
  bool pull(Keys& changed);
  bool switchAccount(const std::filesystem::path& directory, Keys& changed);
  // Takes the account's value into the local copy, unless a later local write waits to be
  // pushed. True when the local value changed.
  bool adopt(const std::string& key, const std::optional<std::string>& encoded);
  void post(UbiquitousChangeReason reason, const std::vector<std::string>& keys);

  std::shared_ptr<CloudAccountSelection> account_;
  NotificationCenter& center_;
  const std::string device_;

  std::mutex exchangeMutex_;  // one exchange at a time; guards the three below
  std::unique_ptr<CloudAccountDatabase> database_;
  std::int64_t accountVersion_ = 0;
  bool pulled_ = false;

  mutable std::mutex mutex_;  // the local copy
  std::map<std::string, Value, std::less<>> values_;
  std::map<std::string, CloudWrite, std::less<>> pending_;
  std::int64_t lastWriteTime_ = 0;

  // Last, so that it stops before anything it calls into goes away.
  DirectoryWatcher watcher_;
  CloudAccountSelection::ListenerId listener_ = 0;
};

}  // namespace quorin::platform::posix
