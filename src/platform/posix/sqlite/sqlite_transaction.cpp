#include "platform/posix/sqlite/sqlite_transaction.hpp"

#include <sqlite3.h>

#include <string>

#include "platform/posix/sqlite/sqlite_statement.hpp"

namespace quorin::platform::posix {

SqliteTransaction::SqliteTransaction(sqlite3* db, TransactionKind kind) : db_(db) {
  const char* begin = kind == TransactionKind::write ? "BEGIN IMMEDIATE" : "BEGIN";
  began_ = sqlite3_exec(db_, begin, nullptr, nullptr, nullptr) == SQLITE_OK;
}

SqliteTransaction::~SqliteTransaction() {
  if (began_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool SqliteTransaction::commit() {
  began_ = false;
  if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

namespace {

int createSchema(sqlite3* db, const char* schema, int version, bool& foreign) {
  int existing = -1;
  int code = sqliteInteger(db, "PRAGMA user_version", existing);
  if (code != SQLITE_OK || existing == version) return code;
  int tables = -1;
  code = sqliteInteger(db, "SELECT count(*) FROM sqlite_master", tables);
  if (code != SQLITE_OK) return code;
  if (existing != 0 || tables != 0) {
    foreign = true;
    return SQLITE_OK;
  }
  code = sqlite3_exec(db, schema, nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) return code;
  return sqlite3_exec(db, ("PRAGMA user_version=" + std::to_string(version)).c_str(), nullptr,
                      nullptr, nullptr);
}

}  // namespace

// Looked at again under the write lock: another process may have made the schema meanwhile.
int prepareSchema(sqlite3* db, const char* schema, int version, bool& foreign) {
  foreign = false;
  int existing = -1;
  int code = sqliteInteger(db, "PRAGMA user_version", existing);
  if (code != SQLITE_OK || existing == version) return code;
  SqliteTransaction transaction(db);
  if (!transaction.began()) return sqlite3_errcode(db);
  code = createSchema(db, schema, version, foreign);
  if (code != SQLITE_OK || foreign || transaction.commit()) return code;
  return SQLITE_IOERR;
}

}  // namespace quorin::platform::posix
