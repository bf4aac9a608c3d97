#pragma once

#include <filesystem>
#include <string>

#include "platform/value.hpp"

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

  // Text, integers, reals, data and booleans bind as themselves; anything else as NULL.
  void bind(int index, const Value& value);

  // Resets on leaving, so a cached statement holds no read lock between calls.
  struct Run {
    explicit Run(SqliteStatement& s) : statement(s) {}
    ~Run();
    int step();
    SqliteStatement& statement;
  };

 private:
  sqlite3_stmt* statement_ = nullptr;
  int code_ = 0;
};

// A column as a value: integers, reals, text and blobs as themselves, NULL as Null.
Value sqliteColumnValue(sqlite3_stmt* statement, int index);
Data sqliteColumnBlob(sqlite3_stmt* statement, int index);
std::string sqliteColumnText(sqlite3_stmt* statement, int index);

// Opens `path`, creating it and its directory so that only the user can read them, with
// full syncs and a 5-second wait on other processes. On failure `db` may still need closing
// and `problem` says why.
int openPrivateDatabase(const std::filesystem::path& path, sqlite3*& db, std::string& problem);

// The first column of the first row of `sql`, into `result`.
int sqliteInteger(sqlite3* db, const char* sql, int& result);

// Creates `schema` in an empty database and marks it as `version`; a database of `version`
// is left as it is. Sets `foreign` for a database of another kind or version. Runs inside
// the caller's transaction.
int prepareSchema(sqlite3* db, const char* schema, int version, bool& foreign);

}  // namespace quorin::platform::posix
