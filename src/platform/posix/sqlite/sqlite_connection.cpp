#include "platform/posix/sqlite/sqlite_connection.hpp"

#include <sqlite3.h>
#include <unistd.h>

#include <utility>

#include "formats/excerpt.hpp"
#include "platform/posix/sqlite/private_database.hpp"

namespace quorin::platform::posix {
namespace {

// Switching a new file to WAL needs it alone, and SQLite answers BUSY there without waiting
// on the busy handler, so a process that opens it while another creates it tries again.
int enableWriteAheadLog(sqlite3* db) {
  int code = SQLITE_BUSY;
  for (int attempt = 0; attempt < 500 && (code & 0xFF) == SQLITE_BUSY; ++attempt) {
    if (attempt > 0) ::usleep(10'000);
    code = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  }
  return code;
}

}  // namespace

SqliteConnection::SqliteConnection(DatabaseLocation location, SqliteJournal journal)
    : location_(std::move(location)), path_(location_.file()), journal_(journal) {}

SqliteConnection::~SqliteConnection() {
  close();
}

int SqliteConnection::open(std::string& problem) {
  if (isOpen()) return SQLITE_OK;
  close();
  int code = openPrivateDatabase(location_, db_, problem);
  if (code == SQLITE_OK && journal_ == SqliteJournal::writeAheadLog) {
    code = enableWriteAheadLog(db_);
    if (code != SQLITE_OK) problem = failure();
  }
  if (code != SQLITE_OK) close();
  return code;
}

// Statements first: a handle with statements left open does not close.
void SqliteConnection::close() {
  statements_.clear();
  if (db_) sqlite3_close(std::exchange(db_, nullptr));
  stale_ = false;
}

SqliteStatement& SqliteConnection::prepare(const std::string& sql) {
  auto& slot = statements_[sql];
  if (!slot) slot = std::make_unique<SqliteStatement>(db_, sql);
  return *slot;
}

// SQLite quotes the database's own names (a schema it cannot read), which a file shared
// with other devices may hold anything in.
std::string SqliteConnection::failure() const {
  return path_.string() + ": " + (db_ ? formats::excerpt(sqlite3_errmsg(db_)) : "not open");
}

}  // namespace quorin::platform::posix
