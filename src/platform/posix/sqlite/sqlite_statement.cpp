#include "platform/posix/sqlite/sqlite_statement.hpp"

#include <sqlite3.h>

#include <cstdint>

namespace quorin::platform::posix {

SqliteStatement::SqliteStatement(sqlite3* db, const std::string& sql) {
  code_ = sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()),
                             SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
}

SqliteStatement::~SqliteStatement() {
  sqlite3_finalize(statement_);
}

void SqliteStatement::bind(int index, const formats::Value& value) {
  if (const auto* text = value.get<std::string>()) {
    bindText(index, *text);
  } else if (const auto* number = value.get<std::int64_t>()) {
    keep(sqlite3_bind_int64(statement_, index, *number));
  } else if (const auto* real = value.get<double>()) {
    keep(sqlite3_bind_double(statement_, index, *real));
  } else if (const auto* data = value.get<formats::Data>()) {
    bindBytes(index, data->data(), data->size());
  } else if (const auto* flag = value.get<bool>()) {
    keep(sqlite3_bind_int64(statement_, index, *flag));
  } else {
    keep(sqlite3_bind_null(statement_, index));
  }
}

void SqliteStatement::bindText(int index, const std::string& text) {
  if (!fits(text.size())) return keep(SQLITE_TOOBIG);
  keep(sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                         SQLITE_TRANSIENT));
}

void SqliteStatement::bindBytes(int index, const void* bytes, std::size_t size) {
  if (!fits(size)) return keep(SQLITE_TOOBIG);
  keep(sqlite3_bind_blob(statement_, index, bytes, static_cast<int>(size), SQLITE_TRANSIENT));
}

// The limit is at most INT_MAX, so a size that fits also survives the cast to int.
bool SqliteStatement::fits(std::size_t size) const {
  int limit = sqlite3_limit(sqlite3_db_handle(statement_), SQLITE_LIMIT_LENGTH, -1);
  return size <= static_cast<std::size_t>(limit);
}

// The first refusal stands until the run ends: a parameter left unbound would run as NULL.
void SqliteStatement::keep(int bindCode) {
  if (bindFailure_ == SQLITE_OK) bindFailure_ = bindCode;
}

SqliteStatement::Run::~Run() {
  sqlite3_reset(statement.get());
  sqlite3_clear_bindings(statement.get());
  statement.bindFailure_ = SQLITE_OK;
}

int SqliteStatement::Run::step() {
  if (statement.bindFailure_ != SQLITE_OK) return statement.bindFailure_;
  return sqlite3_step(statement.get());
}

formats::Value sqliteColumnValue(sqlite3_stmt* statement, int index) {
  switch (sqlite3_column_type(statement, index)) {
    case SQLITE_INTEGER:
      return formats::Value(static_cast<std::int64_t>(sqlite3_column_int64(statement, index)));
    case SQLITE_FLOAT:
      return formats::Value(sqlite3_column_double(statement, index));
    case SQLITE_TEXT:
      return formats::Value(sqliteColumnText(statement, index));
    case SQLITE_BLOB:
      return formats::Value(sqliteColumnBlob(statement, index));
    default:
      return formats::Value();
  }
}

formats::Data sqliteColumnBlob(sqlite3_stmt* statement, int index) {
  const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, index));
  return formats::Data(bytes, bytes + sqlite3_column_bytes(statement, index));
}

std::string sqliteColumnText(sqlite3_stmt* statement, int index) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
  return std::string(text ? text : "",
                     static_cast<std::size_t>(sqlite3_column_bytes(statement, index)));
}

std::optional<std::string> sqliteColumnBytes(sqlite3_stmt* statement, int index) {
  if (sqlite3_column_type(statement, index) == SQLITE_NULL) return std::nullopt;
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, index));
  return std::string(bytes ? bytes : "",
                     static_cast<std::size_t>(sqlite3_column_bytes(statement, index)));
}

void sqliteBindBytes(SqliteStatement& statement, int index,
                     const std::optional<std::string>& bytes) {
  if (bytes) {
    statement.bindBytes(index, bytes->data(), bytes->size());
  } else {
    statement.bind(index, formats::Value());
  }
}

int sqliteInteger(sqlite3* db, const char* sql, int& result) {
  sqlite3_stmt* raw = nullptr;
  int code = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
  if (code == SQLITE_OK) {
    code = sqlite3_step(raw);
    if (code == SQLITE_ROW) result = sqlite3_column_int(raw, 0);
  }
  int finalized = sqlite3_finalize(raw);
  return code == SQLITE_ROW || code == SQLITE_DONE ? finalized : code;
}

}  // namespace quorin::platform::posix
