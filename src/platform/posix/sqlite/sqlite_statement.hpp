#pragma once

#include <cstddef>
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

// The first column of the first row of `sql`, into `result`.
int sqliteInteger(sqlite3* db, const char* sql, int& result);

}  // namespace quorin::platform::posix
