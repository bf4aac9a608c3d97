#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "platform/posix/files/database_location.hpp"
#include "platform/posix/sqlite/sqlite_statement.hpp"

struct sqlite3;

namespace quorin::platform::posix {

// How a database keeps the changes of a transaction under way.
enum class SqliteJournal {
  // Works wherever file locks do, a network file system included.
  rollback,
  // One flush a commit instead of three, and readers never wait on the writer; needs every
  // process on one host, since they share the log's index in memory.
  writeAheadLog,
};

// One connection to a database file: the handle, its cached statements, and whether the
// next use must open it afresh. The keychain, the cloud journal and the directory account
// each own one. Not safe to share between threads: its owner serialises the calls.
class SqliteConnection {
 public:
  SqliteConnection(DatabaseLocation location, SqliteJournal journal);
  ~SqliteConnection();
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  // Opens the file unless it is open already; an SQLite code, and on failure `problem` says
  // why and nothing is left open.
  int open(std::string& problem);
  bool isOpen() const { return db_ != nullptr && !stale_; }
  void close();
  // The next open() starts again: called after a failure, once the failed transaction has
  // unwound, so that a database replaced or repaired underneath is seen afresh.
  void reopenNextTime() { stale_ = true; }

  sqlite3* get() const { return db_; }
  const std::filesystem::path& path() const { return path_; }
  // Kept until the connection closes.
  SqliteStatement& prepare(const std::string& sql);
  // The file and SQLite's message for the last failure on this connection.
  std::string failure() const;

 private:
  DatabaseLocation location_;
  std::filesystem::path path_;
  SqliteJournal journal_;
  sqlite3* db_ = nullptr;
  bool stale_ = false;
  std::unordered_map<std::string, std::unique_ptr<SqliteStatement>> statements_;
};

}  // namespace quorin::platform::posix
