#include "platform/posix/cloud/cloud_journal.hpp"

#include <sqlite3.h>

#include <utility>

#include "platform/posix/sqlite/sqlite_transaction.hpp"

namespace quorin::platform::posix {
namespace {

constexpr int kSchemaVersion = 1;

constexpr const char* kSchema = R"sql(
CREATE TABLE seen (key TEXT PRIMARY KEY NOT NULL, value BLOB NOT NULL) WITHOUT ROWID;
CREATE TABLE pending (
  key TEXT PRIMARY KEY NOT NULL,
  value BLOB,
  written_at INTEGER NOT NULL
) WITHOUT ROWID;
CREATE TABLE state (
  id INTEGER PRIMARY KEY CHECK (id = 0),
  version INTEGER NOT NULL,
  synced_at INTEGER NOT NULL
);
INSERT INTO state VALUES (0, 0, 0);
)sql";

// Commits while it lives are not flushed to disk; with a write-ahead log they still land
// whole and in order.
class Unflushed {
 public:
  explicit Unflushed(sqlite3* db) : db_(db) {
    sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  }
  ~Unflushed() { sqlite3_exec(db_, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr); }
  Unflushed(const Unflushed&) = delete;
  Unflushed& operator=(const Unflushed&) = delete;

 private:
  sqlite3* db_;
};

}  // namespace

// One flush a commit, not the three of a rollback journal; the journal is the device's own.
CloudJournal::CloudJournal(DatabaseLocation location)
    : db_(std::move(location), SqliteJournal::writeAheadLog) {}

// A journal that cannot be opened is tried again on the next call; it is never replaced, so
// that what it holds waits for a repair rather than being lost. A damaged one is left alone:
// writes laid over rows that were not read would be pushed over values never seen.
bool CloudJournal::ensureOpen() {
  if (db_.isOpen()) return true;
  db_.close();
  if (damaged_) return false;
  std::string why;
  if (db_.open(why) == SQLITE_OK) {
    bool foreign = false;
    if (prepareSchema(db_.get(), kSchema, kSchemaVersion, foreign) == SQLITE_OK && !foreign) {
      problem_.reset();
      return true;
    }
    why =
        foreign ? db_.path().string() + " is a database of another kind or version" : db_.failure();
  }
  problem_ = why;
  db_.close();
  return false;
}

// The connection is dropped on the next call, once the failed transaction has unwound.
bool CloudJournal::damaged(std::string_view what) {
  problem_ = db_.path().string() + " is damaged: " + std::string(what);
  db_.reopenNextTime();
  damaged_ = true;
  return false;
}

bool CloudJournal::fail() {
  problem_ = db_.failure();
  db_.reopenNextTime();
  return false;
}

bool CloudJournal::load(Contents& contents) {
  contents = {};
  if (!ensureOpen()) return false;
  SqliteTransaction snapshot(db_.get(), TransactionKind::read);
  if (!snapshot.began()) return fail();
  {
    auto& seen = db_.prepare("SELECT key, value FROM seen");
    SqliteStatement::Run run(seen);
    while (run.step() == SQLITE_ROW) {
      auto value = sqliteColumnBytes(seen.get(), 1);
      if (!value) return damaged("a value last seen is missing");
      contents.values.emplace(sqliteColumnText(seen.get(), 0), std::move(*value));
    }
    auto& pending = db_.prepare("SELECT key, value, written_at FROM pending ORDER BY written_at");
    SqliteStatement::Run runPending(pending);
    while (runPending.step() == SQLITE_ROW)
      contents.pending.push_back({sqliteColumnText(pending.get(), 0),
                                  sqliteColumnBytes(pending.get(), 1),
                                  sqlite3_column_int64(pending.get(), 2)});
    auto& state = db_.prepare("SELECT version, synced_at FROM state");
    SqliteStatement::Run runState(state);
    if (runState.step() != SQLITE_ROW) return fail();
    contents.version = sqlite3_column_int64(state.get(), 0);
    contents.syncedAt = sqlite3_column_int64(state.get(), 1);
  }
  return snapshot.commit() || fail();
}

bool CloudJournal::record(const CloudWrite& write) {
  if (!ensureOpen()) return false;
  auto& statement =
      db_.prepare("INSERT OR REPLACE INTO pending (key, value, written_at) VALUES (?1, ?2, ?3)");
  SqliteStatement::Run run(statement);
  statement.bind(1, formats::Value(write.key));
  sqliteBindBytes(statement, 2, write.encoded);
  statement.bind(3, formats::Value(write.writtenAt));
  return run.step() == SQLITE_DONE || fail();
}

// What an exchange learned can be learned again: after a crash that lost it, the writes are
// pushed once more, which the account knows for this device's own, and the values pulled
// again. So it goes without the flush a write must have; the next write's flush covers it.
// An exchange that learned nothing leaves the journal as it is, its time with it.
bool CloudJournal::settle(const Exchange& exchange) {
  if (exchange.pushed.empty() && exchange.values.empty()) return true;
  if (!ensureOpen()) return false;
  Unflushed unflushed(db_.get());
  SqliteTransaction transaction(db_.get());
  if (!transaction.began()) return fail();
  for (const auto& write : exchange.pushed) {
    auto& drop = db_.prepare("DELETE FROM pending WHERE key = ?1 AND written_at = ?2");
    SqliteStatement::Run run(drop);
    drop.bind(1, formats::Value(write.key));
    drop.bind(2, formats::Value(write.writtenAt));
    if (run.step() != SQLITE_DONE) return fail();
  }
  for (const auto& [key, encoded] : exchange.values) {
    auto& statement = encoded
                          ? db_.prepare("INSERT OR REPLACE INTO seen (key, value) VALUES (?1, ?2)")
                          : db_.prepare("DELETE FROM seen WHERE key = ?1");
    SqliteStatement::Run run(statement);
    statement.bind(1, formats::Value(key));
    if (encoded) sqliteBindBytes(statement, 2, encoded);
    if (run.step() != SQLITE_DONE) return fail();
  }
  auto& state = db_.prepare("UPDATE state SET version = max(version, ?1), synced_at = ?2");
  SqliteStatement::Run run(state);
  state.bind(1, formats::Value(exchange.version));
  state.bind(2, formats::Value(exchange.syncedAt));
  if (run.step() != SQLITE_DONE) return fail();
  return transaction.commit() || fail();
}

}  // namespace quorin::platform::posix
