#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "platform/cloud_account.hpp"
#include "platform/notification_center.hpp"
#include "platform/posix/cloud/cloud_account_selection.hpp"
#include "platform/posix/cloud/cloud_journal.hpp"
#include "platform/posix/sqlite/sqlite_statement.hpp"
#include "platform/ubiquitous_store.hpp"

namespace quorin::platform::posix {

// How a device stands with its cloud account.
struct ReplicaStatus {
  CloudAccountStatus account;
  std::size_t pendingWrites = 0;
  // Nanoseconds since 1970 of the last exchange: this store's, else the last one its journal
  // kept (one that pushed or pulled anything); 0 for none.
  std::int64_t syncedAt = 0;
  std::optional<std::string> journalProblem;
};

// One device's replica of a cloud account. Reads and writes touch the local copy, which a
// journal in the container keeps across restarts; an exchange pushes local writes, then
// pulls what other devices wrote, and reports what changed as the external-change
// notification. Exchanges run on a thread of the store's own, when asked and whenever the
// account tells of another device's write, so that no caller waits on the network; one that
// fails is tried again, ever less often, until one gets through, unless the account refuses
// this device (a retry would not mend that) and the next one waits to be asked for.
class ReplicaUbiquitousStore final : public UbiquitousStore {
 public:
  // `journals` is the container directory that keeps one journal per account; nothing below
  // its root is made or written through a symbolic link.
  ReplicaUbiquitousStore(std::shared_ptr<CloudAccountSelection> selection,
                         DatabaseLocation journals, NotificationCenter& center);
  ~ReplicaUbiquitousStore() override;

  std::optional<formats::Value> objectForKey(std::string_view key) const override;
  // A value a property list cannot hold is not stored.
  void setObject(formats::Value value, std::string_view key) override;
  void removeObject(std::string_view key) override;
  // Sets the value, or removes it when none; false when it was not made: a value a property
  // list cannot hold, or a write the journal could not keep.
  bool write(std::string_view key, const std::optional<formats::Value>& value);
  // Asks for an exchange and returns at once; false when the account or the journal is
  // known to be unusable. One asked for just before the store closes still runs, but waits
  // on no other process: what it cannot push stays in the journal for the next run. From the
  // first call on, other devices' writes start exchanges of their own.
  bool synchronize() override;
  // Exchanges on the calling thread; false when the account could not be reached, which
  // leaves local writes to the next exchange.
  bool exchange();

  ReplicaStatus status();

 private:
  // Changed keys in the order found, each once.
  struct Keys {
    std::vector<std::string> list;
    std::unordered_set<std::string> seen;
    void add(const std::string& key) {
      if (seen.insert(key).second) list.push_back(key);
    }
  };

  void open(const std::string& location);
  void watchAccount();
  bool record(std::string_view key, std::optional<std::string> encoded);
  bool push(Keys& refused, Keys& changed, CloudJournal::Exchange& exchange);
  bool exchangeLocked(Keys& refused, Keys& changed, Keys& switched, UbiquitousChangeReason& reason);
  bool pull(Keys& changed, CloudJournal::Exchange& exchange);
  void switchAccount(const std::string& location, Keys& changed);
  // Takes the account's value into the local copy, unless a later local write waits to be
  // pushed. True when the local value changed.
  bool adopt(const std::string& key, const std::optional<std::string>& encoded,
             CloudJournal::Exchange& exchange);
  void settle(CloudJournal::Exchange& exchange);
  void post(UbiquitousChangeReason reason, const std::vector<std::string>& keys);
  void kick();
  void runExchanges();
  void stopWaiting();

  std::shared_ptr<CloudAccountSelection> selection_;
  const DatabaseLocation journals_;
  NotificationCenter& center_;
  // None when it could not be kept; the store then makes no write and no exchange.
  const std::optional<std::string> device_;
  std::optional<std::string> nameProblem_;

  std::mutex exchangeMutex_;  // one exchange at a time; guards the five below
  std::string location_;
  bool accountWatched_ = false;
  std::int64_t accountVersion_ = 0;
  bool pulled_ = false;
  std::int64_t syncedAt_ = 0;
  std::atomic<bool> unusable_{false};  // as the last exchange found
  std::atomic<bool> watching_{false};  // since the first synchronize()

  std::mutex journalMutex_;  // taken before mutex_ where both are held
  std::unique_ptr<CloudJournal> journal_;
  std::unique_ptr<CloudAccount> account_;  // swapped under all three

  mutable std::mutex mutex_;  // the local copy, and whether the store is closing
  bool closing_ = false;
  std::map<std::string, formats::Value, std::less<>> values_;
  std::map<std::string, CloudWrite, std::less<>> pending_;
  std::int64_t lastWriteTime_ = 0;

  std::mutex kickMutex_;
  std::condition_variable kicked_;
  bool kickPending_ = false;
  bool stopping_ = false;
  CloudAccountSelection::ListenerId listener_ = 0;
  std::thread exchanges_;
};

}  // namespace quorin::platform::posix
