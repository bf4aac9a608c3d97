#include "platform/posix/sqlite/sqlite_statement.hpp"

#include <sqlite3.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/posix/files/file_io.hpp"

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

DatabaseLocation::DatabaseLocation(std::filesystem::path file)
    : root(file.has_parent_path() ? file.parent_path() : "."),
      below(file.filename()),
      makesRootParents(true) {}

DatabaseLocation::DatabaseLocation(std::filesystem::path directory, std::filesystem::path relative)
    : root(std::move(directory)), below(std::move(relative)) {}

namespace {

// The database and the logs SQLite keeps beside it.
constexpr std::array<const char*, 4> kDatabaseFiles{"", "-wal", "-shm", "-journal"};

std::string linkProblem(const std::filesystem::path& path) {
  return path.string() + " is a symbolic link; no database is opened through it";
}

bool isLink(const std::filesystem::path& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// By path: closing a descriptor of the database would drop every lock this process holds on
// it. Whatever is missing has nothing to narrow.
bool makePrivate(const std::filesystem::path& path, mode_t mode, const std::filesystem::path& shown,
                 std::string& problem) {
  struct stat info;
  bool found = ::lstat(path.c_str(), &info) == 0;
  if (!found && errno == ENOENT) return true;
  if ((found && (info.st_mode & 077) == 0) || ::chmod(path.c_str(), mode) == 0) return true;
  problem = "cannot make " + shown.string() + " private: " + std::strerror(errno);
  return false;
}

// mkdir never follows a link, and whatever is found in the way must be a real directory.
// The directory that holds the database is its own, so one made looser earlier is narrowed.
bool makeDirectoriesBelow(const std::filesystem::path& root, const DatabaseLocation& location,
                          std::string& problem) {
  auto path = root;
  auto shown = location.root;
  for (const auto& part : location.below.parent_path()) {
    path /= part;
    shown /= part;
    struct stat info;
    bool made = ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
    if (made && ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
    problem =
        made && S_ISLNK(info.st_mode) ? linkProblem(shown) : "cannot create " + shown.string();
    return false;
  }
  return path == root || makePrivate(path, 0700, shown, problem);
}

// A new file has the mode of the process's umask, and SQLite gives its logs the file's mode
// when it makes them, so the file is narrowed before any read can make them; logs left by a
// process that did not close keep their own mode, and are narrowed too.
bool makeFilesPrivate(const std::filesystem::path& path, const std::filesystem::path& shown,
                      std::string& problem) {
  for (const char* suffix : kDatabaseFiles) {
    if (!makePrivate(path.string() + suffix, 0600, shown.string() + suffix, problem)) return false;
  }
  return true;
}

}  // namespace

// SQLite creates the file itself: opening and closing it here would drop the locks that
// other connections of this process hold on it. SQLite refuses a link anywhere in the path
// it is given, so the host's directory is given resolved.
int openPrivateDatabase(const DatabaseLocation& location, sqlite3*& db, std::string& problem) {
  bool rootExists = location.makesRootParents ? makeDirectories(location.root, 0700)
                                              : makeContainer(location.root, 0700);
  int made = errno;
  std::error_code error;
  auto root =
      rootExists ? std::filesystem::canonical(location.root, error) : std::filesystem::path();
  if (root.empty()) {
    int why = rootExists ? error.value() : made;
    problem = "cannot create " + location.root.string() + ": " +
              (location.makesRootParents ? std::strerror(why) : whyNotMade(location.root, why));
    return SQLITE_CANTOPEN;
  }
  if (!makeDirectoriesBelow(root, location, problem)) return SQLITE_CANTOPEN;
  auto path = root / location.below;
  for (const char* suffix : kDatabaseFiles) {
    if (!isLink(path.string() + suffix)) continue;
    problem = linkProblem(location.file().string() + suffix);
    return SQLITE_CANTOPEN;
  }
  // Always absolute: this SQLite reads a name that starts with "file:" as a URI, whatever the
  // flags say.
  int code =
      sqlite3_open_v2(path.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
  if (code == SQLITE_CANTOPEN_SYMLINK) {
    problem = linkProblem(location.file());
    return code;
  }
  if (code == SQLITE_OK && !makeFilesPrivate(path, location.file(), problem))
    return SQLITE_CANTOPEN;
  if (code == SQLITE_OK) code = sqlite3_busy_timeout(db, 5000);
  if (code == SQLITE_OK)
    code = sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  if (code != SQLITE_OK)
    problem = location.file().string() + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
  return code;
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
