#pragma once

#include <functional>

#include "platform/keychain_services.hpp"
#include "platform/posix/sqlite/sqlite_connection.hpp"

namespace quorin::platform::posix {

// What an SQLite result code means to a keychain caller.
OSStatus keychainStatus(int sqliteCode);

// Now, as an item's creation and modification dates hold it: seconds since 1970.
double keychainNow();

// Runs `body` in one immediate transaction on `db`, committed when it succeeds. The caller
// holds the lock that serialises the connection.
OSStatus keychainTransaction(SqliteConnection& db, const std::function<OSStatus()>& body);

}  // namespace quorin::platform::posix
