#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "formats/value.hpp"

namespace quorin::platform {

// Posted, with the store as object, when values change for a reason other than the
// store's own writes. The user info holds the reason and the list of changed keys.
inline constexpr std::string_view kUbiquitousKeyValueStoreDidChangeExternallyNotification =
    "NSUbiquitousKeyValueStoreDidChangeExternallyNotification";
inline constexpr std::string_view kUbiquitousKeyValueStoreChangeReasonKey =
    "NSUbiquitousKeyValueStoreChangeReasonKey";
inline constexpr std::string_view kUbiquitousKeyValueStoreChangedKeysKey =
    "NSUbiquitousKeyValueStoreChangedKeysKey";

enum class UbiquitousChangeReason : std::int64_t {
  serverChange = 0,
  initialSyncChange = 1,
  quotaViolationChange = 2,
  accountChange = 3,
};

// One device's replica of the user's cloud key-value store. Reads and writes touch the
// local copy; synchronize() has it exchanged with the account. Safe to use from any thread.
class UbiquitousStore {
 public:
  virtual ~UbiquitousStore() = default;
  virtual std::optional<formats::Value> objectForKey(std::string_view key) const = 0;
  virtual void setObject(formats::Value value, std::string_view key) = 0;
  virtual void removeObject(std::string_view key) = 0;
  // False when the exchange cannot happen for now; local writes then wait for the next one.
  virtual bool synchronize() = 0;
};

}  // namespace quorin::platform
