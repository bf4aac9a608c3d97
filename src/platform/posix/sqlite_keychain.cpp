#include "platform/posix/sqlite_keychain.hpp"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>

#include "platform/posix/access_control.hpp"
#include "platform/posix/file_io.hpp"
#include "platform/posix/plist_codec.hpp"

namespace quorin::platform::posix {
namespace {

constexpr int kSchemaVersion = 1;
constexpr OSStatus errSecIO = -36;
constexpr OSStatus errSecDiskFull = -34;
constexpr OSStatus errSecReadOnly = -25292;
constexpr OSStatus errSecNotAvailable = -25291;
constexpr OSStatus errSecDatabaseLocked = -67869;

// Attributes kept in columns of their own, so queries can select on them. Their keys are
// also the column names. A value of another type than the column's goes with the extras.
struct Column {
  std::string_view attribute;
  bool integer;
};
constexpr std::array<Column, 11> kColumns{{
    {sec::kSecAttrAccessGroup, false},
    {sec::kSecAttrAccount, false},
    {sec::kSecAttrService, false},
    {sec::kSecAttrServer, false},
    {sec::kSecAttrProtocol, false},
    {sec::kSecAttrAuthenticationType, false},
    {sec::kSecAttrPort, true},
    {sec::kSecAttrPath, false},
    {sec::kSecAttrSecurityDomain, false},
    {sec::kSecAttrAccessible, false},
    {sec::kSecAttrLabel, false},
}};

constexpr const char* kSchema = R"sql(
CREATE TABLE items (
  id INTEGER PRIMARY KEY,
  identity BLOB NOT NULL UNIQUE,
  class TEXT NOT NULL,
  sync INTEGER NOT NULL,
  agrp TEXT, acct TEXT, svce TEXT, srvr TEXT, ptcl TEXT, atyp TEXT, port INTEGER, path TEXT,
  sdmn TEXT, pdmn TEXT, labl TEXT,
  accc_protection TEXT, accc_flags INTEGER,
  cdat REAL NOT NULL,
  mdat REAL NOT NULL,
  data BLOB NOT NULL,
  extra BLOB
);
CREATE INDEX items_by_account ON items (class, acct, svce);
)sql";

constexpr std::string_view kItemColumns =
    "id, class, sync, agrp, acct, svce, srvr, ptcl, atyp, port, path, sdmn, pdmn, labl, "
    "accc_protection, accc_flags, cdat, mdat, data, extra";

// Switching a new file to WAL needs it alone, and SQLite answers BUSY there without waiting
// on the busy handler, so a process that opens it while another creates it tries again.
int enableWriteAheadLog(sqlite3* db) {
  int code = SQLITE_BUSY;
  for (int attempt = 0; attempt < 500 && (code & 0xFF) == SQLITE_BUSY; ++attempt) {
    if (attempt > 0) ::usleep(10'000);
    code = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  }
  return code;
}

double now() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

const Column* columnFor(std::string_view attribute, const Value& value) {
  for (const auto& column : kColumns) {
    if (column.attribute != attribute) continue;
    bool fits = column.integer ? value.is<std::int64_t>() : value.is<std::string>();
    return fits ? &column : nullptr;
  }
  return nullptr;
}

bool isKeptApart(std::string_view key) {
  return key == sec::kSecClass || key == sec::kSecAttrSynchronizable ||
         key == sec::kSecAttrCreationDate || key == sec::kSecAttrModificationDate ||
         key == sec::kSecAttrAccessControl;
}

}  // namespace

class SqliteKeychain::Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    code_ = sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()),
                               SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  int prepareCode() const { return code_; }
  sqlite3_stmt* get() const { return statement_; }

  void bind(int index, const Value& value) {
    if (const auto* text = value.get<std::string>()) {
      sqlite3_bind_text(statement_, index, text->data(), static_cast<int>(text->size()),
                        SQLITE_TRANSIENT);
    } else if (const auto* number = value.get<std::int64_t>()) {
      sqlite3_bind_int64(statement_, index, *number);
    } else if (const auto* real = value.get<double>()) {
      sqlite3_bind_double(statement_, index, *real);
    } else if (const auto* data = value.get<Data>()) {
      sqlite3_bind_blob(statement_, index, data->data(), static_cast<int>(data->size()),
                        SQLITE_TRANSIENT);
    } else if (const auto* flag = value.get<bool>()) {
      sqlite3_bind_int64(statement_, index, *flag);
    } else {
      sqlite3_bind_null(statement_, index);
    }
  }

  // Resets on leaving, so a cached statement holds no read lock between calls.
  struct Run {
    explicit Run(Statement& s) : statement(s) {}
    ~Run() {
      sqlite3_reset(statement.get());
      sqlite3_clear_bindings(statement.get());
    }
    int step() { return sqlite3_step(statement.get()); }
    Statement& statement;
  };

 private:
  sqlite3_stmt* statement_ = nullptr;
  int code_ = SQLITE_OK;
};

struct SqliteKeychain::Selection {
  std::string sql;
  std::vector<Value> parameters;
  bool needsFilter = false;
};

namespace {

Value columnValue(sqlite3_stmt* statement, int index) {
  switch (sqlite3_column_type(statement, index)) {
    case SQLITE_INTEGER:
      return Value(static_cast<std::int64_t>(sqlite3_column_int64(statement, index)));
    case SQLITE_FLOAT:
      return Value(sqlite3_column_double(statement, index));
    case SQLITE_TEXT: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
      return Value(
          std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, index))));
    }
    case SQLITE_BLOB: {
      const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, index));
      return Value(Data(bytes, bytes + sqlite3_column_bytes(statement, index)));
    }
    default:
      return Value();
  }
}

Data blobAt(sqlite3_stmt* statement, int index) {
  const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, index));
  return Data(bytes, bytes + sqlite3_column_bytes(statement, index));
}

// Columns in the order of kItemColumns.
bool readItem(sqlite3_stmt* statement, StoredItem& item) {
  item.id = sqlite3_column_int64(statement, 0);
  item.attributes.clear();
  item.attributes[std::string(sec::kSecClass)] = columnValue(statement, 1);
  item.attributes[std::string(sec::kSecAttrSynchronizable)] =
      sqlite3_column_int64(statement, 2) != 0;
  for (std::size_t i = 0; i < kColumns.size(); ++i) {
    Value value = columnValue(statement, static_cast<int>(3 + i));
    if (!value.isNull()) item.attributes[std::string(kColumns[i].attribute)] = std::move(value);
  }
  if (sqlite3_column_type(statement, 14) != SQLITE_NULL) {
    auto protection = *columnValue(statement, 14).get<std::string>();
    auto flags = static_cast<std::uint64_t>(sqlite3_column_int64(statement, 15));
    item.attributes[std::string(sec::kSecAttrAccessControl)] =
        ObjectRef(std::make_shared<AccessControl>(std::move(protection), flags));
  }
  item.attributes[std::string(sec::kSecAttrCreationDate)] =
      Date{sqlite3_column_double(statement, 16)};
  item.attributes[std::string(sec::kSecAttrModificationDate)] =
      Date{sqlite3_column_double(statement, 17)};
  item.data = blobAt(statement, 18);
  if (sqlite3_column_type(statement, 19) == SQLITE_BLOB) {
    auto extra = blobAt(statement, 19);
    auto parsed =
        parsePlist(std::string_view(reinterpret_cast<const char*>(extra.data()), extra.size()));
    if (!parsed || !parsed->is<Dictionary>()) return false;
    for (auto& [key, value] : *parsed->get<Dictionary>())
      item.attributes.try_emplace(key, std::move(value));
  }
  return true;
}

}  // namespace

SqliteKeychain::SqliteKeychain(std::filesystem::path database) : path_(std::move(database)) {}

SqliteKeychain::~SqliteKeychain() {
  statements_.clear();
  if (db_) sqlite3_close(db_);
}

OSStatus SqliteKeychain::statusOf(int sqliteCode) {
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
    case SQLITE_CONSTRAINT:
      return sqliteCode == SQLITE_CONSTRAINT_UNIQUE ? errSecDuplicateItem : errSecParam;
    default:
      return errSecIO;
  }
}

OSStatus SqliteKeychain::ensureOpen() {
  if (db_) return errSecSuccess;
  if (openFailure_) return *openFailure_;
  OSStatus status = openDatabase();
  if (status != errSecSuccess) {
    statements_.clear();
    if (db_) sqlite3_close(std::exchange(db_, nullptr));
    // A database another process holds is tried again on the next call.
    if (status != errSecDatabaseLocked) openFailure_ = status;
  }
  return status;
}

OSStatus SqliteKeychain::openDatabase() {
  if (!makeDirectories(path_.parent_path(), 0700)) {
    problem_ = "cannot create " + path_.parent_path().string();
    return errSecNotAvailable;
  }
  // Created here so that it (and the journal files SQLite derives from it) is private.
  int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    problem_ = "cannot open " + path_.string();
    return errSecNotAvailable;
  }
  ::close(fd);
  int code = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
  if (code == SQLITE_OK) code = sqlite3_busy_timeout(db_, 5000);
  if (code == SQLITE_OK) code = enableWriteAheadLog(db_);
  if (code == SQLITE_OK)
    code = sqlite3_exec(db_, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) {
    problem_ = path_.string() + ": " + (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code));
    return statusOf(code);
  }
  return createSchema();
}

OSStatus SqliteKeychain::createSchema() {
  return transaction([&]() -> OSStatus {
    sqlite3_stmt* raw = nullptr;
    int code = sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &raw, nullptr);
    int version = -1;
    if (code == SQLITE_OK && sqlite3_step(raw) == SQLITE_ROW) version = sqlite3_column_int(raw, 0);
    code = sqlite3_finalize(raw);
    if (version == kSchemaVersion) return errSecSuccess;
    int tables = -1;
    sqlite3_prepare_v2(db_, "SELECT count(*) FROM sqlite_master", -1, &raw, nullptr);
    if (sqlite3_step(raw) == SQLITE_ROW) tables = sqlite3_column_int(raw, 0);
    sqlite3_finalize(raw);
    if (version != 0 || tables != 0) {
      problem_ = path_.string() + " is a database of another kind or version; it is left as it is";
      return errSecInvalidKeychain;
    }
    code = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr);
    if (code == SQLITE_OK)
      code = sqlite3_exec(db_, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str(),
                          nullptr, nullptr, nullptr);
    return statusOf(code);
  });
}

std::optional<std::string> SqliteKeychain::problem() {
  std::lock_guard lock(mutex_);
  if (ensureOpen() == errSecSuccess) return std::nullopt;
  return problem_;
}

OSStatus SqliteKeychain::transaction(const std::function<OSStatus()>& body) {
  int code = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) return statusOf(code);
  OSStatus status = body();
  code =
      sqlite3_exec(db_, status == errSecSuccess ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
  if (status == errSecSuccess && code != SQLITE_OK) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return statusOf(code);
  }
  return status;
}

SqliteKeychain::Statement& SqliteKeychain::prepare(const std::string& sql) {
  auto& slot = statements_[sql];
  if (!slot) slot = std::make_unique<Statement>(db_, sql);
  return *slot;
}

OSStatus SqliteKeychain::select(const KeychainQuery& query, bool wholeItems,
                                std::vector<StoredItem>& items) {
  Selection selection;
  selection.parameters.push_back(query.itemClass);
  std::string where = " WHERE class = ?1";
  if (query.sync != KeychainQuery::Sync::any) {
    where += " AND sync = " + std::string(query.sync == KeychainQuery::Sync::yes ? "1" : "0");
  }
  for (const auto& [key, value] : query.match) {
    if (const Column* column = columnFor(key, value)) {
      selection.parameters.push_back(value);
      where += " AND " + std::string(column->attribute) + " = ?" +
               std::to_string(selection.parameters.size());
    } else {
      selection.needsFilter = true;
    }
  }
  selection.needsFilter |= query.persistentRef.has_value();
  wholeItems |= selection.needsFilter || query.returnAttributes;
  selection.sql = "SELECT " +
                  std::string(wholeItems ? kItemColumns : "id, class, data, accc_protection") +
                  " FROM items" + where + " ORDER BY id" +
                  (query.limitAll || selection.needsFilter ? "" : " LIMIT 1");

  Statement& statement = prepare(selection.sql);
  if (statement.prepareCode() != SQLITE_OK) return statusOf(statement.prepareCode());
  for (std::size_t i = 0; i < selection.parameters.size(); ++i)
    statement.bind(static_cast<int>(i + 1), selection.parameters[i]);
  Statement::Run run(statement);
  int code;
  while ((code = run.step()) == SQLITE_ROW) {
    StoredItem item;
    if (wholeItems) {
      if (!readItem(statement.get(), item)) return errSecInvalidKeychain;
      if (selection.needsFilter && !matches(query, item)) continue;
    } else {
      item.id = sqlite3_column_int64(statement.get(), 0);
      item.attributes[std::string(sec::kSecClass)] = columnValue(statement.get(), 1);
      item.data = blobAt(statement.get(), 2);
      if (sqlite3_column_type(statement.get(), 3) != SQLITE_NULL)
        item.attributes[std::string(sec::kSecAttrAccessControl)] = Value(true);
    }
    items.push_back(std::move(item));
    if (!query.limitAll) return errSecSuccess;
  }
  return statusOf(code);
}

namespace {

// The columns' values, the access control and the extras' property list of an item.
struct Row {
  std::array<Value, kColumns.size()> columns;
  Value protection, flags, extra;
};

std::optional<Row> rowOf(const StoredItem& item) {
  Row row;
  Dictionary extras;
  for (const auto& [key, value] : item.attributes) {
    if (isKeptApart(key)) continue;
    if (const Column* column = columnFor(key, value)) {
      row.columns[static_cast<std::size_t>(column - kColumns.data())] = value;
    } else {
      extras.emplace(key, value);
    }
  }
  if (auto it = item.attributes.find(sec::kSecAttrAccessControl); it != item.attributes.end()) {
    const auto* object = it->second.get<ObjectRef>();
    auto control = object ? std::dynamic_pointer_cast<const AccessControl>(*object) : nullptr;
    if (!control) return std::nullopt;
    row.protection = control->protection;
    row.flags = static_cast<std::int64_t>(control->flags);
  }
  if (!extras.empty()) {
    auto bytes = serializePlist(Value(std::move(extras)), PlistFormat::binary);
    if (!bytes) return std::nullopt;
    row.extra = Data(bytes->begin(), bytes->end());
  }
  return row;
}

double dateOf(const StoredItem& item, std::string_view key) {
  auto it = item.attributes.find(key);
  const auto* date = it == item.attributes.end() ? nullptr : it->second.get<Date>();
  return date ? date->secondsSince1970 : 0;
}

bool isSynchronized(const StoredItem& item) {
  auto it = item.attributes.find(sec::kSecAttrSynchronizable);
  return it != item.attributes.end() && it->second == Value(true);
}

}  // namespace

OSStatus SqliteKeychain::insert(const StoredItem& item) {
  auto row = rowOf(item);
  if (!row) return errSecParam;
  Statement& statement = prepare(
      "INSERT INTO items (identity, class, sync, agrp, acct, svce, srvr, ptcl, atyp, port, path, "
      "sdmn, pdmn, labl, accc_protection, accc_flags, cdat, mdat, data, extra, id) VALUES "
      "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, "
      "?21)");
  if (statement.prepareCode() != SQLITE_OK) return statusOf(statement.prepareCode());
  auto identity = primaryKey(item);
  statement.bind(1, Data(identity.begin(), identity.end()));
  statement.bind(2, item.attributes.at(std::string(sec::kSecClass)));
  statement.bind(3, isSynchronized(item));
  for (std::size_t i = 0; i < kColumns.size(); ++i)
    statement.bind(static_cast<int>(4 + i), row->columns[i]);
  statement.bind(15, row->protection);
  statement.bind(16, row->flags);
  statement.bind(17, dateOf(item, sec::kSecAttrCreationDate));
  statement.bind(18, dateOf(item, sec::kSecAttrModificationDate));
  statement.bind(19, item.data);
  statement.bind(20, row->extra);
  // A new item gets the next id; an updated one keeps its own, so listings keep their order.
  statement.bind(21, item.id > 0 ? Value(item.id) : Value());
  Statement::Run run(statement);
  int code = run.step();
  return code == SQLITE_DONE ? errSecSuccess : statusOf(sqlite3_extended_errcode(db_));
}

OSStatus SqliteKeychain::erase(std::int64_t id) {
  Statement& statement = prepare("DELETE FROM items WHERE id = ?1");
  statement.bind(1, Value(id));
  Statement::Run run(statement);
  return run.step() == SQLITE_DONE ? errSecSuccess : statusOf(sqlite3_extended_errcode(db_));
}

OSStatus SqliteKeychain::secItemCopyMatching(const Dictionary& query,
                                             std::optional<Value>* result) {
  KeychainQuery parsed;
  if (OSStatus status = parseQuery(query, parsed); status != errSecSuccess) return status;
  std::lock_guard lock(mutex_);
  if (OSStatus status = ensureOpen(); status != errSecSuccess) return status;
  std::vector<StoredItem> items;
  if (OSStatus status = select(parsed, false, items); status != errSecSuccess) return status;
  if (items.empty()) return errSecItemNotFound;
  if (parsed.authenticationUIFail) {
    for (const auto& item : items)
      if (needsAuthentication(item)) return errSecInteractionNotAllowed;
  }
  if (result && parsed.returnsAnything()) *result = resultFor(parsed, items);
  return errSecSuccess;
}

OSStatus SqliteKeychain::secItemAdd(const Dictionary& attributes) {
  StoredItem item;
  if (OSStatus status = attributesForAdd(attributes, now(), item); status != errSecSuccess)
    return status;
  std::lock_guard lock(mutex_);
  if (OSStatus status = ensureOpen(); status != errSecSuccess) return status;
  return insert(item);
}

OSStatus SqliteKeychain::changeMatching(
    const Dictionary& query, bool wholeItems,
    const std::function<OSStatus(std::vector<StoredItem>&)>& change) {
  KeychainQuery parsed;
  if (OSStatus status = parseQuery(query, parsed); status != errSecSuccess) return status;
  parsed.limitAll = true;
  std::lock_guard lock(mutex_);
  if (OSStatus status = ensureOpen(); status != errSecSuccess) return status;
  return transaction([&]() -> OSStatus {
    std::vector<StoredItem> items;
    if (OSStatus status = select(parsed, wholeItems, items); status != errSecSuccess) return status;
    if (items.empty()) return errSecItemNotFound;
    return change(items);
  });
}

OSStatus SqliteKeychain::secItemUpdate(const Dictionary& query, const Dictionary& attributes) {
  return changeMatching(query, true, [&](std::vector<StoredItem>& items) -> OSStatus {
    double time = now();
    for (auto& item : items) {
      if (OSStatus status = applyUpdate(attributes, time, item); status != errSecSuccess)
        return status;
      if (OSStatus status = erase(item.id); status != errSecSuccess) return status;
    }
    for (const auto& item : items) {
      if (OSStatus status = insert(item); status != errSecSuccess) return status;
    }
    return errSecSuccess;
  });
}

OSStatus SqliteKeychain::secItemDelete(const Dictionary& query) {
  return changeMatching(query, false, [&](std::vector<StoredItem>& items) -> OSStatus {
    for (const auto& item : items) {
      if (OSStatus status = erase(item.id); status != errSecSuccess) return status;
    }
    return errSecSuccess;
  });
}

std::shared_ptr<const AccessControl> SqliteKeychain::secAccessControlCreateWithFlags(
    std::string_view protection, std::uint64_t flags, std::optional<Error>* error) {
  return makeAccessControl(protection, flags, error);
}

}  // namespace quorin::platform::posix
