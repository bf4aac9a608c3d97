#pragma once

#include <string>

#include "platform/posix/files/database_location.hpp"

struct sqlite3;

namespace quorin::platform::posix {

// Opens the database, letting SQLite create it and the missing directories so that only the
// user can read them, with full syncs and a 5-second wait on other processes. Refuses a file
// or directory that is a symbolic link. On failure `db` may still need closing and `problem`
// says why.
int openPrivateDatabase(const DatabaseLocation& location, sqlite3*& db, std::string& problem);

}  // namespace quorin::platform::posix
