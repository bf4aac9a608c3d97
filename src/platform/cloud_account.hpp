#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorin::platform {

// What one account may hold, as the platform's store allows.
inline constexpr std::size_t kCloudMaxTotalBytes = 1024 * 1024;
inline constexpr std::size_t kCloudMaxKeys = 1024;
inline constexpr std::size_t kCloudMaxKeyBytes = 64;

// A device's write: a binary property list, or none for a removal.
struct CloudWrite {
  std::string key;
  std::optional<std::string> encoded;
  std::int64_t writtenAt = 0;  // nanoseconds since 1970 on the account's clock
};

enum class CloudWriteOutcome {
  applied,
  superseded,  // the account holds a later write of the key
  refused,     // over quota
};

struct CloudRow {
  std::string key;
  std::optional<std::string> encoded;  // none once removed
  std::int64_t version = 0;
};

// How a device reaches its account, for status reports.
struct CloudAccountStatus {
  std::string backend;   // "directory" or "redis"
  std::string location;  // without any password
  bool connected = false;
  std::optional<std::string> problem;  // why it cannot be used at all
  std::string offlineReason;           // why it is out of reach for now
  // Of an account on a cluster: the node that serves it, and whether a replica keeps its
  // writes too; empty for a backend that has neither.
  std::string servedBy;
  std::string replication;
};

// The shared side of the cloud key-value store: every device's writes, each given the next
// account version, so that a device pulls what it has not seen by version. Removals stay
// as rows, so that a later removal wins over an earlier write that arrives after it. One
// caller at a time; `onChange` may run on a thread of the account's own.
class CloudAccount {
 public:
  virtual ~CloudAccount() = default;

  // The account's clock, which orders writes from devices whose own clocks disagree.
  virtual std::int64_t now() = 0;
  // Applies the writes atomically, the later write of a key winning, each checked against
  // the quotas. False when the account could not be reached; nothing was then applied.
  virtual bool push(const std::vector<CloudWrite>& writes, std::string_view device,
                    std::vector<CloudWriteOutcome>& outcomes) = 0;
  // Every row written after `version`, in version order.
  virtual bool changesSince(std::int64_t version, std::vector<CloudRow>& rows) = 0;
  // The key's current value; false when the account cannot be reached.
  virtual bool current(std::string_view key, std::optional<std::string>& encoded) = 0;
  virtual CloudAccountStatus status() = 0;

  // From now on calls `onChange`, which must not block, whenever another device may have
  // written and after every reconnect; the calls stop before the account goes away.
  virtual void watch(std::function<void()> onChange) = 0;
  // From now on no call waits on another party (another process's lock) for more than a
  // short grace from this call: what cannot be had by then fails, the call in progress
  // included. Safe from any thread; a store calls it as it closes, so that closing never
  // keeps its host waiting.
  virtual void stopWaiting() = 0;
};

}  // namespace quorin::platform
