#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.hpp"

namespace quorin::cloud {

class DispatchTimer;

// String access to the user's cloud key-value store. A read answers at once when the value
// is there; otherwise it waits for an external change that brings the key, or for 30 s.
// Reads of one key share one wait. Made with make(), since its handlers hold it weakly.
class CloudKeyValueStore final : public std::enable_shared_from_this<CloudKeyValueStore> {
 public:
  using Completion = std::function<void(const std::optional<std::string>& value)>;
  // Told of every external change, whatever its reason, once the reads it answers are.
  using ChangeObserver = std::function<void(platform::UbiquitousChangeReason reason,
                                            const std::vector<std::string>& keys)>;

  static constexpr platform::Clock::Duration waitTimeout = std::chrono::seconds(30);

  // Opens a new replica of the store, observes its external changes and synchronises it.
  // `platform` must outlive the store; `onChange` runs on the main thread.
  static std::shared_ptr<CloudKeyValueStore> make(platform::Platform& platform,
                                                  ChangeObserver onChange = nullptr);
  // Waiting reads are dropped unanswered.
  ~CloudKeyValueStore();

  CloudKeyValueStore(const CloudKeyValueStore&) = delete;
  CloudKeyValueStore& operator=(const CloudKeyValueStore&) = delete;

  // Answers on the calling thread before returning when the store holds a string for the
  // key; later on the main thread otherwise, with none for a value that is not a string or
  // at the end of the wait.
  void fetchValue(const std::string& key, Completion completion);
  // Local writes never answer a waiting read.
  void setValue(const std::string& value, const std::string& key);
  void removeValue(const std::string& key);

  // Keys with reads waiting; for tests and diagnostics.
  std::size_t waitingKeyCount() const;

 private:
  // Filed under its key in `entries_`.
  struct KeyEntry {
    std::shared_ptr<DispatchTimer> timeoutTimer;
    std::vector<Completion> blocks;
  };

  CloudKeyValueStore(platform::Platform& platform, ChangeObserver onChange);
  void observeExternalChanges();
  void storeDidChangeExternally(const platform::Notification& notification);
  void answerReads(const formats::Array& keys);
  void timeOut(const std::string& key);
  // Takes the key's entry out of the map, so that its readers may wait again.
  std::optional<KeyEntry> takeEntry(const std::string& key);

  platform::Platform& platform_;
  const ChangeObserver onChange_;
  std::unique_ptr<platform::UbiquitousStore> store_;
  platform::ObserverToken observation_ = 0;
  // Reads may come from any thread while the handlers run on the main one.
  mutable std::mutex mutex_;
  std::unordered_map<std::string, KeyEntry> entries_;
};

}  // namespace quorin::cloud
