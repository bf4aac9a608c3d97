#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/keychain_services.hpp"

namespace quorin::platform::posix {

// A keychain query taken apart: the entries that select items and those that steer the call.
struct KeychainQuery {
  enum class Sync { no, yes, any };

  std::string itemClass;
  std::vector<std::pair<std::string, formats::Value>> match;  // attribute entries, in key order
  Sync sync = Sync::any;  // a query that names no flag matches items of either
  std::optional<formats::Data> persistentRef;
  bool limitAll = false;
  bool returnData = false;
  bool returnAttributes = false;
  bool returnRef = false;
  bool returnPersistentRef = false;
  bool authenticationUIFail = false;

  bool returnsAnything() const {
    return returnData || returnAttributes || returnRef || returnPersistentRef;
  }
};

// Parses a query; errSecParam for one without a known class or with a steering entry of the
// wrong type.
OSStatus parseQuery(const formats::Dictionary& query, KeychainQuery& parsed);

// One stored item: its attributes (class, sync, dates and access control included) and value.
struct StoredItem {
  std::int64_t id = 0;
  formats::Dictionary attributes;
  formats::Data data;
  // Its sealed value did not open; a listing answers it without one.
  bool damaged = false;
};

bool matches(const KeychainQuery& query, const StoredItem& item);
bool needsAuthentication(const StoredItem& item);

// A query that answers attribute dictionaries of every match, so that one whose value does
// not open can still be listed.
bool listsItems(const KeychainQuery& query);

// The result the query asks for, shaped as the platform shapes it.
formats::Value resultFor(const KeychainQuery& query, const std::vector<StoredItem>& items);

// The attributes an added item keeps: the steering entries and the value left out, a
// definite sync flag, the default protection, and both dates set to `now`.
OSStatus attributesForAdd(const formats::Dictionary& request, double now, StoredItem& item);
// Writes an update's attributes (and value, if given) over an item; refreshes its date.
OSStatus applyUpdate(const formats::Dictionary& changes, double now, StoredItem& item);

// The attributes that make an item unique within its class, as one comparable key.
std::string primaryKey(const StoredItem& item);

// Every attribute key the primary key is made of, for the item's class.
const std::vector<std::string_view>& primaryAttributes(std::string_view itemClass);

formats::Data persistentRefOf(const StoredItem& item);

}  // namespace quorin::platform::posix
