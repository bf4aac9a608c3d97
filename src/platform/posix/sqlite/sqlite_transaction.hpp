#pragma once

struct sqlite3;

namespace quorin::platform::posix {

enum class TransactionKind {
  // BEGIN IMMEDIATE takes the write lock at once, waiting on the busy handler while another
  // process holds it.
  write,
  // Reads one snapshot of the database and takes no write lock.
  read,
};

// A transaction, rolled back unless committed.
class SqliteTransaction {
 public:
  explicit SqliteTransaction(sqlite3* db, TransactionKind kind = TransactionKind::write);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;

  bool began() const { return began_; }
  bool commit();

 private:
  sqlite3* db_;
  bool began_ = false;
};

// Creates `schema` in an empty database and marks it as `version`, in a write transaction of
// its own; a database of `version` is only read, so that opening it neither writes nor waits
// on another process's write. Sets `foreign` for a database of another kind or version.
int prepareSchema(sqlite3* db, const char* schema, int version, bool& foreign);

}  // namespace quorin::platform::posix
