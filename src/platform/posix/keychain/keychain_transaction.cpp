#include "platform/posix/keychain/keychain_transaction.hpp"

#include <chrono>

#include <sqlite3.h>

namespace quorin::platform::posix {
namespace {

constexpr OSStatus errSecDiskFull = -34;
constexpr OSStatus errSecReadOnly = -25292;
constexpr OSStatus errSecDatabaseLocked = -67869;

}  // namespace

OSStatus keychainStatus(int sqliteCode) {
  switch (sqliteCode & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return errSecSuccess;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return errSecDatabaseLocked;
    case SQLITE_FULL:
      return errSecDiskFull;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return errSecInvalidKeychain;
    case SQLITE_READONLY:
      return errSecReadOnly;
    case SQLITE_CANTOPEN:
      return errSecNotAvailable;
    case SQLITE_TOOBIG:
      return errSecParam;
    case SQLITE_CONSTRAINT:
      return sqliteCode == SQLITE_CONSTRAINT_UNIQUE ? errSecDuplicateItem : errSecParam;
    default:
      return errSecIO;
  }
}

// Prepared once, as every call runs one.
OSStatus keychainTransaction(SqliteConnection& db, const std::function<OSStatus()>& body) {
  auto run = [&db](const char* sql) {
    SqliteStatement& statement = db.prepare(sql);
    if (statement.prepareCode() != SQLITE_OK) return statement.prepareCode();
    SqliteStatement::Run step(statement);
    int code = step.step();
    return code == SQLITE_DONE ? SQLITE_OK : code;
  };
  int code = run("BEGIN IMMEDIATE");
  if (code != SQLITE_OK) return keychainStatus(code);
  OSStatus status = body();
  code = run(status == errSecSuccess ? "COMMIT" : "ROLLBACK");
  if (status == errSecSuccess && code != SQLITE_OK) {
    run("ROLLBACK");
    return keychainStatus(code);
  }
  return status;
}

double keychainNow() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace quorin::platform::posix
