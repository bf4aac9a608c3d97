#pragma once

#include <functional>

#include "platform/keychain_services.hpp"
#include "platform/posix/sqlite/sqlite_connection.hpp"

namespace quorin::platform::posix {

// What an SQLite result code means to a keychain caller.
OSStatus keychainStatus(int sqliteCode);

// Runs `body` in one immediate transaction on `db`, committed when it succeeds. The caller
// holds the lock that serialises the connection.
OSStatus keychainTransaction(SqliteConnection& db, const std::function<OSStatus()>& body);

}  // namespace quorin::platform::posix
