#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "formats/value.hpp"

struct sqlite3;
struct sqlite3_stmt;

namespace quorin::platform::posix {

// A prepared statement, kept for the life of its connection.
class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, const std::string& sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  int prepareCode() const { return code_; }
  sqlite3_stmt* get() const { return statement_; }

  // Text, integers, reals, data and booleans bind as themselves; anything else as NULL. Text
  // or bytes longer than the connection's length limit are refused, never cut.
  void bind(int index, const formats::Value& value);
  void bindBytes(int index, const void* bytes, std::size_t size);

  // Resets on leaving, so a cached statement holds no read lock between calls.
  struct Run {
    explicit Run(SqliteStatement& s) : statement(s) {}
    ~Run();
    // The code of a refused bind, without running the statement.
    int step();
    SqliteStatement& statement;
  };

 private:
  void bindText(int index, const std::string& text);
  bool fits(std::size_t size) const;
  void keep(int bindCode);

  sqlite3_stmt* statement_ = nullptr;
  int code_ = 0;
  int bindFailure_ = 0;
};

// A column as a value: integers, reals, text and blobs as themselves, NULL as Null.
formats::Value sqliteColumnValue(sqlite3_stmt* statement, int index);
formats::Data sqliteColumnBlob(sqlite3_stmt* statement, int index);
std::string sqliteColumnText(sqlite3_stmt* statement, int index);
// A blob column as bytes, none for NULL; and the reverse for a parameter.
std::optional<std::string> sqliteColumnBytes(sqlite3_stmt* statement, int index);
void sqliteBindBytes(SqliteStatement& statement, int index,
                     const std::optional<std::string>& bytes);

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

// A database file below a directory the host names. That directory may be reached through
// symbolic links; nothing from it down to the file may be one, so that the file stays inside.
struct DatabaseLocation {
  // Implicit: a plain path names a file below its own directory, the current one for a bare
  // name; that directory is made with its missing parents.
  DatabaseLocation(std::filesystem::path file);
  // `directory` is a device's container or an account's directory: made only when its parent
  // exists.
  DatabaseLocation(std::filesystem::path directory, std::filesystem::path relative);

  std::filesystem::path file() const { return root / below; }

  std::filesystem::path root;
  std::filesystem::path below;
  bool makesRootParents = false;
};

// Opens the database, letting SQLite create it and the missing directories so that only the
// user can read them, with full syncs and a 5-second wait on other processes. Refuses a file
// or directory that is a symbolic link. On failure `db` may still need closing and `problem`
// says why.
int openPrivateDatabase(const DatabaseLocation& location, sqlite3*& db, std::string& problem);

// The first column of the first row of `sql`, into `result`.
int sqliteInteger(sqlite3* db, const char* sql, int& result);

// Creates `schema` in an empty database and marks it as `version`, in a write transaction of
// its own; a database of `version` is only read, so that opening it neither writes nor waits
// on another process's write. Sets `foreign` for a database of another kind or version.
int prepareSchema(sqlite3* db, const char* schema, int version, bool& foreign);

}  // namespace quorin::platform::posix
