#include "platform/posix/cloud/cloud_journal.hpp"

#include <sqlite3.h>

#include <utility>

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

CloudJournal::CloudJournal(DatabaseLocation location)
    : location_(std::move(location)), path_(location_.file()) {}

CloudJournal::~CloudJournal() {
  close();
}

// A journal that cannot be opened is tried again on the next call; it is never replaced, so
// that what it holds waits for a repair rather than being lost. A damaged one is left alone:
// writes laid over rows that were not read would be pushed over values never seen.
bool CloudJournal::ensureOpen() {
  if (db_ && !stale_) return true;
  close();
  if (damaged_) return false;
  std::string why;
  bool foreign = false;
  // One flush a commit, not the three of a rollback journal.
  if (openPrivateDatabase(location_, db_, why) == SQLITE_OK &&
      sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) == SQLITE_OK) {
    SqliteTransaction transaction(db_);
    int code = transaction.began() ? prepareSchema(db_, kSchema, kSchemaVersion, foreign)
                                   : sqlite3_errcode(db_);
    if (code == SQLITE_OK && !foreign && transaction.commit()) {
      problem_.reset();
      return true;
    }
    why = foreign ? path_.string() + " is a database of another kind or version"
                  : path_.string() + ": " + sqlite3_errmsg(db_);
  }
  problem_ = why;
  close();
  return false;
}

void CloudJournal::close() {
  statements_.clear();
  if (db_) sqlite3_close(std::exchange(db_, nullptr));
  stale_ = false;
}

// The connection is dropped on the next call, once the failed transaction has unwound.
bool CloudJournal::damaged(std::string_view what) {
  problem_ = path_.string() + " is damaged: " + std::string(what);
  stale_ = true;
  damaged_ = true;
  return false;
}

bool CloudJournal::fail() {
  problem_ = path_.string() + ": " + sqlite3_errmsg(db_);
  stale_ = true;
  return false;
}

SqliteStatement& CloudJournal::prepare(const char* sql) {
  auto& slot = statements_[sql];
  if (!slot) slot = std::make_unique<SqliteStatement>(db_, sql);
  return *slot;
}

bool CloudJournal::load(Contents& contents) {
  contents = {};
  if (!ensureOpen()) return false;
  SqliteTransaction snapshot(db_);
  if (!snapshot.began()) return fail();
  {
    auto& seen = prepare("SELECT key, value FROM seen");
    SqliteStatement::Run run(seen);
    while (run.step() == SQLITE_ROW) {
      auto value = sqliteColumnBytes(seen.get(), 1);
      if (!value) return damaged("a value last seen is missing");
      contents.values.emplace(sqliteColumnText(seen.get(), 0), std::move(*value));
    }
    auto& pending = prepare("SELECT key, value, written_at FROM pending ORDER BY written_at");
    SqliteStatement::Run runPending(pending);
    while (runPending.step() == SQLITE_ROW)
      contents.pending.push_back({sqliteColumnText(pending.get(), 0),
                                  sqliteColumnBytes(pending.get(), 1),
                                  sqlite3_column_int64(pending.get(), 2)});
    auto& state = prepare("SELECT version, synced_at FROM state");
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
      prepare("INSERT OR REPLACE INTO pending (key, value, written_at) VALUES (?1, ?2, ?3)");
  SqliteStatement::Run run(statement);
  statement.bind(1, Value(write.key));
  sqliteBindBytes(statement, 2, write.encoded);
  statement.bind(3, Value(write.writtenAt));
  return run.step() == SQLITE_DONE || fail();
}

// What an exchange learned can be learned again: after a crash that lost it, the writes are
// pushed once more, which the account knows for this device's own, and the values pulled
// again. So it goes without the flush a write must have; the next write's flush covers it.
bool CloudJournal::settle(const Exchange& exchange) {
  if (!ensureOpen()) return false;
  Unflushed unflushed(db_);
  SqliteTransaction transaction(db_);
  if (!transaction.began()) return fail();
  for (const auto& write : exchange.pushed) {
    auto& drop = prepare("DELETE FROM pending WHERE key = ?1 AND written_at = ?2");
    SqliteStatement::Run run(drop);
    drop.bind(1, Value(write.key));
    drop.bind(2, Value(write.writtenAt));
    if (run.step() != SQLITE_DONE) return fail();
  }
  for (const auto& [key, encoded] : exchange.values) {
    auto& statement = encoded ? prepare("INSERT OR REPLACE INTO seen (key, value) VALUES (?1, ?2)")
                              : prepare("DELETE FROM seen WHERE key = ?1");
    SqliteStatement::Run run(statement);
    statement.bind(1, Value(key));
    if (encoded) sqliteBindBytes(statement, 2, encoded);
    if (run.step() != SQLITE_DONE) return fail();
  }
  auto& state = prepare("UPDATE state SET version = max(version, ?1), synced_at = ?2");
  SqliteStatement::Run run(state);
  state.bind(1, Value(exchange.version));
  state.bind(2, Value(exchange.syncedAt));
  if (run.step() != SQLITE_DONE) return fail();
  return transaction.commit() || fail();
}

}  // namespace quorin::platform::posix
