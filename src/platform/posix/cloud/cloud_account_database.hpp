#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cloud_account.hpp"
#include "platform/posix/sqlite/sqlite_connection.hpp"

namespace quorin::platform::posix {

// The account's values in one SQLite database in the account directory, shared by every
// device and process that syncs through it. Each write gets the next account version, so a
// device pulls what it has not seen by version. Removals stay as rows, so that a later
// removal wins over an earlier write that arrives after it. Not thread-safe, but for
// stopWaiting().
class CloudAccountDatabase {
 public:
  static constexpr std::string_view fileName = "cloud.db";

  explicit CloudAccountDatabase(std::filesystem::path directory);
  CloudAccountDatabase(const CloudAccountDatabase&) = delete;
  CloudAccountDatabase& operator=(const CloudAccountDatabase&) = delete;

  const std::filesystem::path& directory() const { return directory_; }

  // Applies the writes in one transaction, last writer by time winning, each checked against
  // the quotas. False when the account could not be written; nothing was then applied.
  bool push(const std::vector<CloudWrite>& writes, std::string_view device,
            std::vector<CloudWriteOutcome>& outcomes);
  // Every row written after `version`, in version order.
  bool changesSince(std::int64_t version, std::vector<CloudRow>& rows);
  // The key's current value; false when the account cannot be read.
  bool current(std::string_view key, std::optional<std::string>& encoded);

  // Why the account cannot be used, or none: it cannot be opened, or the last call failed
  // in a way that no wait mends (a read-only directory, a full disk).
  std::optional<std::string> problem();
  // Why the last call did not get through, when another process held the database for longer
  // than the call would wait: the account is out of reach for now, not unusable.
  const std::optional<std::string>& lockedOut() const { return lockedOut_; }

  // Bounds every wait on another process's lock, now and from now on, to a short grace
  // from this call; safe from any thread.
  void stopWaiting();

 private:
  struct Usage {
    std::size_t keys = 0;
    std::size_t bytes = 0;
    std::int64_t version = 0;
  };
  struct Existing {
    bool live = false;
    std::size_t size = 0;
    std::int64_t writtenAt = 0;
    std::string device;
  };

  bool ensureOpen();
  bool close(std::string why, int code);
  bool isLockedOut(int code) const;
  std::string heldElsewhere() const;
  bool readUsage(Usage& usage);
  bool readExisting(const std::string& key, std::optional<Existing>& existing);
  CloudWriteOutcome apply(const CloudWrite& write, std::string_view device, Usage& usage,
                          bool& failed);
  bool fail();
  bool succeed();
  static int onBusy(void* database, int attempts);
  bool waitForLock(int attempts);

  std::filesystem::path directory_;
  SqliteConnection db_;
  std::string problem_;
  std::optional<std::string> lastingFailure_;
  std::optional<std::string> lockedOut_;
  bool gaveUpWaiting_ = false;  // in the call under way, on another process's lock
  std::chrono::steady_clock::time_point busySince_;

  std::mutex waitMutex_;
  std::condition_variable waitEnded_;
  std::chrono::steady_clock::time_point waitUntil_ = std::chrono::steady_clock::time_point::max();
};

}  // namespace quorin::platform::posix
