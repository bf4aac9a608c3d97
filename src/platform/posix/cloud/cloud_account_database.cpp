#include "platform/posix/cloud/cloud_account_database.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <utility>

#include "platform/posix/sqlite/sqlite_transaction.hpp"

namespace quorin::platform::posix {
namespace {

using namespace std::chrono_literals;

constexpr int kSchemaVersion = 1;
constexpr auto kLongestBusyWait = 5000ms;
constexpr auto kLongestBusyStep = 100ms;
// Long enough for a closing store to push past another process's short transaction, short
// enough that closing never keeps its host waiting.
constexpr auto kClosingGrace = 250ms;

constexpr const char* kSchema = R"sql(
CREATE TABLE entries (
  key TEXT PRIMARY KEY NOT NULL,
  value BLOB,
  size INTEGER NOT NULL,
  written_at INTEGER NOT NULL,
  device TEXT NOT NULL,
  version INTEGER NOT NULL UNIQUE
) WITHOUT ROWID;
)sql";

}  // namespace

// The account's directory may be shared over a network file system, where the write-ahead
// log's shared index does not work; a rollback journal needs only file locks.
CloudAccountDatabase::CloudAccountDatabase(std::filesystem::path directory)
    : directory_(std::move(directory)), db_({directory_, fileName}, SqliteJournal::rollback) {}

// Only a lock held elsewhere keeps the account out of reach; whatever else fails to open it
// makes it unusable.
bool CloudAccountDatabase::close(std::string why, int code) {
  lockedOut_ = isLockedOut(code) ? std::optional(heldElsewhere()) : std::nullopt;
  problem_ = std::move(why);
  db_.close();
  return false;
}

bool CloudAccountDatabase::isLockedOut(int code) const {
  return gaveUpWaiting_ || code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

std::string CloudAccountDatabase::heldElsewhere() const {
  return "another process holds " + db_.path().string();
}

// Tried again on every call: a locked or missing account may be usable a moment later.
bool CloudAccountDatabase::ensureOpen() {
  gaveUpWaiting_ = false;
  if (db_.isOpen()) return true;
  std::string why;
  if (int code = db_.open(why); code != SQLITE_OK) return close(why, code);
  sqlite3_busy_handler(db_.get(), &CloudAccountDatabase::onBusy, this);
  bool foreign = false;
  int code = prepareSchema(db_.get(), kSchema, kSchemaVersion, foreign);
  if (foreign)
    return close(
        db_.path().string() + " is a database of another kind or version; it is left as it is",
        SQLITE_NOTADB);
  if (code != SQLITE_OK) return close(db_.failure(), code);
  problem_.clear();
  return true;
}

// The connection is dropped on the next call, after the failed transaction has unwound, so
// that a database replaced or repaired underneath is opened afresh. Only another process's
// lock is a passing obstacle; any other failure stays the account's problem until a call
// gets through.
bool CloudAccountDatabase::fail() {
  int code = sqlite3_errcode(db_.get());
  problem_ = code == SQLITE_OK ? db_.path().string() + ": the commit failed" : db_.failure();
  if (isLockedOut(code)) {
    lockedOut_ = heldElsewhere();
  } else {
    lastingFailure_ = problem_;
  }
  db_.reopenNextTime();
  return false;
}

bool CloudAccountDatabase::succeed() {
  lastingFailure_.reset();
  lockedOut_.reset();
  return true;
}

int CloudAccountDatabase::onBusy(void* database, int attempts) {
  return static_cast<CloudAccountDatabase*>(database)->waitForLock(attempts);
}

// Waits in growing steps, as SQLite's own busy timeout does, but no longer than a store
// that is closing allows: it must not wait seconds for another process to let go.
bool CloudAccountDatabase::waitForLock(int attempts) {
  auto now = std::chrono::steady_clock::now();
  if (attempts == 0) busySince_ = now;
  std::unique_lock lock(waitMutex_);
  auto deadline = std::min(busySince_ + kLongestBusyWait, waitUntil_);
  if (now >= deadline) {
    gaveUpWaiting_ = true;
    return false;
  }
  auto step = std::min(
      {std::chrono::steady_clock::duration(std::chrono::milliseconds(1 << std::min(attempts, 7))),
       std::chrono::steady_clock::duration(kLongestBusyStep), deadline - now});
  waitEnded_.wait_for(lock, step, [&] { return waitUntil_ < deadline; });
  return true;  // the next call gives up once the deadline has passed
}

void CloudAccountDatabase::stopWaiting() {
  {
    std::lock_guard lock(waitMutex_);
    waitUntil_ = std::min(waitUntil_, std::chrono::steady_clock::now() + kClosingGrace);
  }
  waitEnded_.notify_all();
}

std::optional<std::string> CloudAccountDatabase::problem() {
  if (ensureOpen()) return lastingFailure_;
  if (lockedOut_) return std::nullopt;
  return problem_;
}

bool CloudAccountDatabase::readUsage(Usage& usage) {
  auto& statement = db_.prepare(
      "SELECT count(value), coalesce(sum(size), 0), coalesce(max(version), 0) FROM entries");
  SqliteStatement::Run run(statement);
  if (statement.prepareCode() != SQLITE_OK || run.step() != SQLITE_ROW) return false;
  usage.keys = static_cast<std::size_t>(sqlite3_column_int64(statement.get(), 0));
  usage.bytes = static_cast<std::size_t>(sqlite3_column_int64(statement.get(), 1));
  usage.version = sqlite3_column_int64(statement.get(), 2);
  return true;
}

bool CloudAccountDatabase::readExisting(const std::string& key, std::optional<Existing>& existing) {
  auto& statement =
      db_.prepare("SELECT value IS NOT NULL, size, written_at, device FROM entries WHERE key = ?1");
  if (statement.prepareCode() != SQLITE_OK) return false;
  SqliteStatement::Run run(statement);
  statement.bind(1, formats::Value(key));
  int code = run.step();
  if (code == SQLITE_DONE) {
    existing.reset();
    return true;
  }
  if (code != SQLITE_ROW) return false;
  existing =
      Existing{sqlite3_column_int(statement.get(), 0) != 0,
               static_cast<std::size_t>(sqlite3_column_int64(statement.get(), 1)),
               sqlite3_column_int64(statement.get(), 2), sqliteColumnText(statement.get(), 3)};
  return true;
}

CloudWriteOutcome CloudAccountDatabase::apply(const CloudWrite& write, std::string_view device,
                                              Usage& usage, bool& failed) {
  std::optional<Existing> existing;
  if (!readExisting(write.key, existing)) {
    failed = true;
    return CloudWriteOutcome::refused;
  }
  // Equal times, from devices with skewed clocks, go to the greater device name.
  if (existing &&
      (existing->writtenAt != write.writtenAt ? existing->writtenAt > write.writtenAt
                                              : std::string_view(existing->device) > device))
    return CloudWriteOutcome::superseded;
  std::size_t oldSize = existing && existing->live ? existing->size : 0;
  std::size_t keys = usage.keys - (existing && existing->live ? 1 : 0);
  std::size_t size = write.encoded ? write.key.size() + write.encoded->size() : 0;
  if (write.encoded) {
    ++keys;
    if (write.key.size() > kCloudMaxKeyBytes || keys > kCloudMaxKeys ||
        usage.bytes - oldSize + size > kCloudMaxTotalBytes)
      return CloudWriteOutcome::refused;
  }
  auto& statement = db_.prepare(
      "INSERT OR REPLACE INTO entries (key, value, size, written_at, device, version) "
      "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  SqliteStatement::Run run(statement);
  statement.bind(1, formats::Value(write.key));
  sqliteBindBytes(statement, 2, write.encoded);
  statement.bind(3, formats::Value(static_cast<std::int64_t>(size)));
  statement.bind(4, formats::Value(write.writtenAt));
  statement.bind(5, formats::Value(std::string(device)));
  statement.bind(6, formats::Value(usage.version + 1));
  if (statement.prepareCode() != SQLITE_OK || run.step() != SQLITE_DONE) {
    failed = true;
    return CloudWriteOutcome::refused;
  }
  usage.keys = keys;
  usage.bytes = usage.bytes - oldSize + size;
  ++usage.version;
  return CloudWriteOutcome::applied;
}

bool CloudAccountDatabase::push(const std::vector<CloudWrite>& writes, std::string_view device,
                                std::vector<CloudWriteOutcome>& outcomes) {
  outcomes.clear();
  if (writes.empty()) return true;
  if (!ensureOpen()) return false;
  SqliteTransaction transaction(db_.get());
  Usage usage;
  if (!transaction.began() || !readUsage(usage)) return fail();
  bool failed = false;
  for (const auto& write : writes) {
    outcomes.push_back(apply(write, device, usage, failed));
    if (failed) return fail();
  }
  if (!transaction.commit()) return fail();
  return succeed();
}

bool CloudAccountDatabase::changesSince(std::int64_t version, std::vector<CloudRow>& rows) {
  rows.clear();
  if (!ensureOpen()) return false;
  auto& statement =
      db_.prepare("SELECT key, value, version FROM entries WHERE version > ?1 ORDER BY version");
  if (statement.prepareCode() != SQLITE_OK) return fail();
  SqliteStatement::Run run(statement);
  statement.bind(1, formats::Value(version));
  int code;
  while ((code = run.step()) == SQLITE_ROW) {
    rows.push_back({sqliteColumnText(statement.get(), 0), sqliteColumnBytes(statement.get(), 1),
                    sqlite3_column_int64(statement.get(), 2)});
  }
  return code == SQLITE_DONE ? succeed() : fail();
}

bool CloudAccountDatabase::current(std::string_view key, std::optional<std::string>& encoded) {
  if (!ensureOpen()) return false;
  auto& statement = db_.prepare("SELECT value FROM entries WHERE key = ?1");
  if (statement.prepareCode() != SQLITE_OK) return fail();
  SqliteStatement::Run run(statement);
  statement.bind(1, formats::Value(std::string(key)));
  int code = run.step();
  encoded = code == SQLITE_ROW ? sqliteColumnBytes(statement.get(), 0) : std::nullopt;
  return code == SQLITE_ROW || code == SQLITE_DONE ? succeed() : fail();
}

}  // namespace quorin::platform::posix
