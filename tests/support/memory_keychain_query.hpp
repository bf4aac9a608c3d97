#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/keychain_services.hpp"

namespace quorin::testing {

// The in-memory keychain's own reading of keychain dictionaries. It shares no code with the
// keychain on disk, so that the contract suite run against both compares two readings of
// the same rules rather than one engine with itself.

// One stored item: its attributes (class, sync flag, protection and dates included) and value.
struct MemoryItem {
  std::int64_t id = 0;
  formats::Dictionary attributes;
  formats::Data value;
};

struct MemoryQuery {
  enum class Sync { either, on, off };

  std::string itemClass;
  formats::Dictionary required;  // attributes an item must hold with equal values
  Sync sync = Sync::either;
  std::optional<formats::Data> persistentRef;
  bool all = false;
  bool wantsData = false;
  bool wantsAttributes = false;
  bool wantsRef = false;
  bool wantsPersistentRef = false;
  bool forbidsAuthenticationUI = false;

  bool wantsAnything() const {
    return wantsData || wantsAttributes || wantsRef || wantsPersistentRef;
  }
};

// None for a query without a known class or with a steering entry of the wrong kind.
std::optional<MemoryQuery> readQuery(const formats::Dictionary& query);
bool selects(const MemoryQuery& query, const MemoryItem& item);
bool needsAuthentication(const MemoryItem& item);
// What a copy answers for the items found, first one first.
formats::Value answer(const MemoryQuery& query, const std::vector<MemoryItem>& found);

// The item an add makes, its dates at `now`; none for a malformed request.
std::optional<MemoryItem> itemFromAdd(const formats::Dictionary& request, double now);
// Writes an update over `item`; false, with `item` in an unspecified state, when malformed.
bool applyChanges(const formats::Dictionary& changes, double now, MemoryItem& item);
// Two items that cannot both be stored: same class and same identifying attributes.
bool sameIdentity(const MemoryItem& a, const MemoryItem& b);

}  // namespace quorin::testing
