#include "platform/posix/keychain/sqlite_keychain.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>

#include "formats/plist_codec.hpp"
#include "platform/common/access_control.hpp"
#include "platform/posix/keychain/keychain_transaction.hpp"
#include "platform/posix/keychain/shared_password.hpp"
#include "platform/posix/sqlite/sqlite_statement.hpp"

namespace quorin::platform::posix {
namespace {

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

constexpr std::string_view kItemColumns =
    "id, class, sync, agrp, acct, svce, srvr, ptcl, atyp, port, path, sdmn, pdmn, labl, "
    "accc_protection, accc_flags, cdat, mdat, data, extra, identity";
// Positions in kItemColumns, which an insert lists in the same order.
constexpr int kIdColumn = 0;
constexpr int kClassColumn = 1;
constexpr int kSyncColumn = 2;
constexpr int kFirstAttributeColumn = 3;
constexpr int kProtectionColumn = kFirstAttributeColumn + static_cast<int>(kColumns.size());
constexpr int kFlagsColumn = kProtectionColumn + 1;
constexpr int kCreationDateColumn = kFlagsColumn + 1;
constexpr int kModificationDateColumn = kCreationDateColumn + 1;
constexpr int kDataColumn = kModificationDateColumn + 1;
constexpr int kExtraColumn = kDataColumn + 1;
constexpr int kIdentityColumn = kExtraColumn + 1;
static_assert(std::count(kItemColumns.begin(), kItemColumns.end(), ',') == kIdentityColumn);

// The columns enough for an item's value, at the same positions as id and class above.
constexpr std::string_view kBriefColumns = "id, class, data, accc_protection, identity";
constexpr int kBriefDataColumn = 2;
constexpr int kBriefProtectionColumn = 3;
constexpr int kBriefIdentityColumn = 4;

// Statement parameters count from 1.
constexpr int parameterFor(int column) {
  return column + 1;
}

const Column* columnFor(std::string_view attribute, const formats::Value& value) {
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

// Columns in the order of kItemColumns.
bool readItem(sqlite3_stmt* statement, StoredItem& item) {
  item.id = sqlite3_column_int64(statement, kIdColumn);
  item.attributes.clear();
  item.attributes[std::string(sec::kSecClass)] = sqliteColumnValue(statement, kClassColumn);
  item.attributes[std::string(sec::kSecAttrSynchronizable)] =
      sqlite3_column_int64(statement, kSyncColumn) != 0;
  for (std::size_t i = 0; i < kColumns.size(); ++i) {
    formats::Value value =
        sqliteColumnValue(statement, kFirstAttributeColumn + static_cast<int>(i));
    if (!value.isNull()) item.attributes[std::string(kColumns[i].attribute)] = std::move(value);
  }
  // The attributes are in the clear, so anyone may have put any type in any column.
  if (sqlite3_column_type(statement, kClassColumn) != SQLITE_TEXT) return false;
  if (sqlite3_column_type(statement, kProtectionColumn) == SQLITE_TEXT) {
    auto protection = sqliteColumnText(statement, kProtectionColumn);
    auto flags = static_cast<std::uint64_t>(sqlite3_column_int64(statement, kFlagsColumn));
    item.attributes[std::string(sec::kSecAttrAccessControl)] =
        formats::ObjectRef(std::make_shared<AccessControl>(std::move(protection), flags));
  } else if (sqlite3_column_type(statement, kProtectionColumn) != SQLITE_NULL) {
    return false;
  }
  item.attributes[std::string(sec::kSecAttrCreationDate)] =
      formats::Date{sqlite3_column_double(statement, kCreationDateColumn)};
  item.attributes[std::string(sec::kSecAttrModificationDate)] =
      formats::Date{sqlite3_column_double(statement, kModificationDateColumn)};
  item.data = sqliteColumnBlob(statement, kDataColumn);
  if (sqlite3_column_type(statement, kExtraColumn) == SQLITE_BLOB) {
    auto extra = sqliteColumnBlob(statement, kExtraColumn);
    auto parsed = formats::parsePlist(
        std::string_view(reinterpret_cast<const char*>(extra.data()), extra.size()));
    if (!parsed || !parsed->is<formats::Dictionary>()) return false;
    for (auto& [key, value] : *parsed->get<formats::Dictionary>())
      item.attributes.try_emplace(key, std::move(value));
  }
  return true;
}

}  // namespace

// A write-ahead log: one flush a commit, and readers in other processes never wait on a
// writer. The keychain is the device's own, never on a network file system.
SqliteKeychain::SqliteKeychain(DatabaseLocation database, KeychainKeyOptions keyOptions)
    : db_(std::move(database), SqliteJournal::writeAheadLog),
      sealing_(db_, db_.path(), std::move(keyOptions), problem_),
      credentials_(db_, sealing_, [this](const std::function<OSStatus()>& body) {
        return withOpenDatabase(body);
      }) {}

SqliteKeychain::~SqliteKeychain() = default;

OSStatus SqliteKeychain::ensureOpen() {
  if (db_.isOpen()) return errSecSuccess;
  if (openFailure_) return *openFailure_;
  OSStatus status = openDatabase();
  if (status != errSecSuccess) {
    db_.close();
    // Only a database of another kind or sealed under another key is refused for good; a
    // directory not yet writable, a full disk or another process's lock may pass.
    if (status == errSecInvalidKeychain || status == errSecAuthFailed) openFailure_ = status;
  }
  return status;
}

OSStatus SqliteKeychain::openDatabase() {
  int code = db_.open(problem_);
  if (code != SQLITE_OK) return keychainStatus(code);
  // A step then tells a duplicate from another constraint itself.
  sqlite3_extended_result_codes(db_.get(), 1);
  // Removed and replaced values are overwritten with zeros, not left in free pages.
  code = sqlite3_exec(db_.get(), "PRAGMA secure_delete=ON", nullptr, nullptr, nullptr);
  if (code == SQLITE_OK) code = registerSqlFunctions();
  if (code != SQLITE_OK) {
    problem_ = db_.failure();
    return keychainStatus(code);
  }
  return sealing_.createSchema();
}

OSStatus SqliteKeychain::withOpenDatabase(const std::function<OSStatus()>& body) {
  std::lock_guard lock(mutex_);
  if (OSStatus status = ensureOpen(); status != errSecSuccess) return status;
  return body();
}

std::optional<std::string> SqliteKeychain::problem() {
  std::lock_guard lock(mutex_);
  if (ensureOpen() == errSecSuccess) return std::nullopt;
  return problem_;
}

std::optional<KeychainKeyState> SqliteKeychain::keyState() {
  std::lock_guard lock(mutex_);
  if (ensureOpen() != errSecSuccess) return std::nullopt;
  return sealing_.keyState();
}

OSStatus SqliteKeychain::rotateKey() {
  std::lock_guard lock(mutex_);
  if (OSStatus status = ensureOpen(); status != errSecSuccess) return status;
  return sealing_.rotateKey();
}

SqliteKeychain::Selection SqliteKeychain::selectionFor(const KeychainQuery& query) {
  Selection selection;
  selection.parameters.push_back(query.itemClass);
  selection.sql = " WHERE class = ?1";
  if (query.sync != KeychainQuery::Sync::any) {
    selection.sql +=
        " AND sync = " + std::string(query.sync == KeychainQuery::Sync::yes ? "1" : "0");
  }
  for (const auto& [key, value] : query.match) {
    if (const Column* column = columnFor(key, value)) {
      selection.parameters.push_back(value);
      selection.sql += " AND " + std::string(column->attribute) + " = ?" +
                       std::to_string(selection.parameters.size());
    } else {
      selection.needsFilter = true;
    }
  }
  selection.needsFilter |= query.persistentRef.has_value();
  return selection;
}

OSStatus SqliteKeychain::select(const KeychainQuery& query, ItemColumns columns, ItemValues values,
                                std::vector<StoredItem>& items) {
  Selection selection = selectionFor(query);
  bool wholeItems = columns == ItemColumns::all || selection.needsFilter || query.returnAttributes;
  bool openValues = values == ItemValues::opened;
  selection.sql = "SELECT " + std::string(wholeItems ? kItemColumns : kBriefColumns) +
                  " FROM items" + selection.sql + " ORDER BY id" +
                  (query.limitAll || selection.needsFilter ? "" : " LIMIT 1");

  SqliteStatement& statement = prepare(selection.sql);
  if (statement.prepareCode() != SQLITE_OK) return keychainStatus(statement.prepareCode());
  for (std::size_t i = 0; i < selection.parameters.size(); ++i)
    statement.bind(static_cast<int>(i + 1), selection.parameters[i]);
  SqliteStatement::Run run(statement);
  int code;
  while ((code = run.step()) == SQLITE_ROW) {
    StoredItem item;
    if (wholeItems) {
      if (!readItem(statement.get(), item)) return errSecDecode;
      if (selection.needsFilter && !matches(query, item)) continue;
    } else {
      item.id = sqlite3_column_int64(statement.get(), kIdColumn);
      item.attributes[std::string(sec::kSecClass)] =
          sqliteColumnValue(statement.get(), kClassColumn);
      item.data = sqliteColumnBlob(statement.get(), kBriefDataColumn);
      if (sqlite3_column_type(statement.get(), kBriefProtectionColumn) != SQLITE_NULL)
        item.attributes[std::string(sec::kSecAttrAccessControl)] = formats::Value(true);
    }
    if (openValues) {
      auto identity =
          sqliteColumnText(statement.get(), wholeItems ? kIdentityColumn : kBriefIdentityColumn);
      auto opened = sealing_.sealer().open(item.data, identity);
      if (!opened && !listsItems(query)) return errSecDecode;
      item.damaged = !opened;
      item.data = opened ? std::move(*opened) : formats::Data{};
    }
    items.push_back(std::move(item));
    if (!query.limitAll) return errSecSuccess;
  }
  return keychainStatus(code);
}

namespace {

// The columns' values, the access control and the extras' property list of an item.
struct Row {
  std::array<formats::Value, kColumns.size()> columns;
  formats::Value protection, flags, extra;
};

std::optional<Row> rowOf(const StoredItem& item) {
  Row row;
  formats::Dictionary extras;
  for (const auto& [key, value] : item.attributes) {
    if (isKeptApart(key)) continue;
    if (const Column* column = columnFor(key, value)) {
      row.columns[static_cast<std::size_t>(column - kColumns.data())] = value;
    } else {
      extras.emplace(key, value);
    }
  }
  if (auto it = item.attributes.find(sec::kSecAttrAccessControl); it != item.attributes.end()) {
    const auto* object = it->second.get<formats::ObjectRef>();
    auto control = object ? std::dynamic_pointer_cast<const AccessControl>(*object) : nullptr;
    if (!control) return std::nullopt;
    row.protection = control->protection;
    row.flags = static_cast<std::int64_t>(control->flags);
  }
  if (!extras.empty()) {
    auto bytes =
        formats::serializePlist(formats::Value(std::move(extras)), formats::PlistFormat::binary);
    if (!bytes) return std::nullopt;
    row.extra = formats::Data(bytes->begin(), bytes->end());
  }
  return row;
}

double dateOf(const StoredItem& item, std::string_view key) {
  auto it = item.attributes.find(key);
  const auto* date = it == item.attributes.end() ? nullptr : it->second.get<formats::Date>();
  return date ? date->secondsSince1970 : 0;
}

bool isSynchronized(const StoredItem& item) {
  auto it = item.attributes.find(sec::kSecAttrSynchronizable);
  return it != item.attributes.end() && it->second == formats::Value(true);
}

}  // namespace

OSStatus SqliteKeychain::insert(const StoredItem& item) {
  auto row = rowOf(item);
  if (!row) return errSecParam;
  SqliteStatement& statement = prepare(
      "INSERT INTO items (" + std::string(kItemColumns) +
      ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, "
      "?19, ?20, ?21)");
  if (statement.prepareCode() != SQLITE_OK) return keychainStatus(statement.prepareCode());
  auto identity = primaryKey(item);
  // A new item gets the next id; an updated one keeps its own, so listings keep their order.
  statement.bind(parameterFor(kIdColumn), item.id > 0 ? formats::Value(item.id) : formats::Value());
  statement.bind(parameterFor(kClassColumn), item.attributes.at(std::string(sec::kSecClass)));
  statement.bind(parameterFor(kSyncColumn), isSynchronized(item));
  for (std::size_t i = 0; i < kColumns.size(); ++i)
    statement.bind(parameterFor(kFirstAttributeColumn + static_cast<int>(i)), row->columns[i]);
  statement.bind(parameterFor(kProtectionColumn), row->protection);
  statement.bind(parameterFor(kFlagsColumn), row->flags);
  statement.bind(parameterFor(kCreationDateColumn), dateOf(item, sec::kSecAttrCreationDate));
  statement.bind(parameterFor(kModificationDateColumn),
                 dateOf(item, sec::kSecAttrModificationDate));
  statement.bind(parameterFor(kDataColumn), sealing_.sealer().seal(item.data, identity));
  statement.bind(parameterFor(kExtraColumn), row->extra);
  statement.bind(parameterFor(kIdentityColumn), formats::Data(identity.begin(), identity.end()));
  SqliteStatement::Run run(statement);
  int code = run.step();
  return code == SQLITE_DONE ? errSecSuccess : keychainStatus(code);
}

OSStatus SqliteKeychain::erase(std::int64_t id) {
  SqliteStatement& statement = prepare("DELETE FROM items WHERE id = ?1");
  if (statement.prepareCode() != SQLITE_OK) return keychainStatus(statement.prepareCode());
  statement.bind(1, formats::Value(id));
  SqliteStatement::Run run(statement);
  return run.step() == SQLITE_DONE ? errSecSuccess
                                   : keychainStatus(sqlite3_extended_errcode(db_.get()));
}

OSStatus SqliteKeychain::secItemCopyMatching(const formats::Dictionary& query,
                                             std::optional<formats::Value>* result) {
  KeychainQuery parsed;
  if (OSStatus status = parseQuery(query, parsed); status != errSecSuccess) return status;
  std::lock_guard lock(mutex_);
  if (OSStatus status = ensureOpen(); status != errSecSuccess) return status;
  std::vector<StoredItem> items;
  bool damaged = false;
  OSStatus status = sealing_.readOpened([&] {
    items.clear();
    OSStatus read = select(parsed, ItemColumns::needed,
                           parsed.returnData ? ItemValues::opened : ItemValues::sealed, items);
    damaged = read == errSecSuccess && std::any_of(items.begin(), items.end(),
                                                   [](const auto& item) { return item.damaged; });
    return damaged ? errSecDecode : read;
  });
  // One damaged value does not hide the rest of a listing: it comes without its value.
  if (status == errSecDecode && damaged) status = errSecSuccess;
  if (status != errSecSuccess) return status;
  if (items.empty()) return errSecItemNotFound;
  if (parsed.authenticationUIFail) {
    for (const auto& item : items)
      if (needsAuthentication(item)) return errSecInteractionNotAllowed;
  }
  if (result && parsed.returnsAnything()) *result = resultFor(parsed, items);
  return errSecSuccess;
}

OSStatus SqliteKeychain::secItemAdd(const formats::Dictionary& attributes) {
  StoredItem item;
  if (OSStatus status = attributesForAdd(attributes, keychainNow(), item); status != errSecSuccess)
    return status;
  std::lock_guard lock(mutex_);
  if (OSStatus status = ensureOpen(); status != errSecSuccess) return status;
  return sealing_.sealingTransaction([&] { return insert(item); });
}

OSStatus SqliteKeychain::changeMatching(
    const formats::Dictionary& query, ItemColumns columns, ItemValues values,
    const std::function<OSStatus(std::vector<StoredItem>&)>& change) {
  KeychainQuery parsed;
  if (OSStatus status = parseQuery(query, parsed); status != errSecSuccess) return status;
  parsed.limitAll = true;
  std::lock_guard lock(mutex_);
  if (OSStatus status = ensureOpen(); status != errSecSuccess) return status;
  return sealing_.sealingTransaction([&]() -> OSStatus {
    std::vector<StoredItem> items;
    if (OSStatus status = select(parsed, columns, values, items); status != errSecSuccess)
      return status;
    if (items.empty()) return errSecItemNotFound;
    return change(items);
  });
}

OSStatus SqliteKeychain::secItemUpdate(const formats::Dictionary& query,
                                       const formats::Dictionary& attributes) {
  {
    KeychainQuery parsed;
    if (OSStatus status = parseQuery(query, parsed); status != errSecSuccess) return status;
    if (auto status = updateInPlace(parsed, attributes)) return *status;
  }
  // A new value replaces the old one unread, so a value that no longer opens can be replaced.
  bool keepsValue = !attributes.count(sec::kSecValueData);
  return changeMatching(
      query, ItemColumns::all, keepsValue ? ItemValues::opened : ItemValues::sealed,
      [&](std::vector<StoredItem>& items) -> OSStatus {
        double time = keychainNow();
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

OSStatus SqliteKeychain::secItemDelete(const formats::Dictionary& query) {
  return changeMatching(query, ItemColumns::needed, ItemValues::sealed,
                        [&](std::vector<StoredItem>& items) -> OSStatus {
                          for (const auto& item : items) {
                            if (OSStatus status = erase(item.id); status != errSecSuccess)
                              return status;
                          }
                          return errSecSuccess;
                        });
}

std::shared_ptr<const AccessControl> SqliteKeychain::secAccessControlCreateWithFlags(
    std::string_view protection, std::uint64_t flags, std::optional<Error>* error) {
  return common::makeAccessControl(protection, flags, error);
}

void SqliteKeychain::secRequestSharedWebCredential(const std::optional<std::string>& domain,
                                                   const std::optional<std::string>& account,
                                                   SharedCredentialsCompletion completion) {
  credentials_.request(domain, account, std::move(completion));
}

void SqliteKeychain::secAddSharedWebCredential(const std::string& domain,
                                               const std::string& account,
                                               const std::optional<std::string>& password,
                                               SharedCredentialCompletion completion) {
  credentials_.add(domain, account, password, std::move(completion));
}

std::string SqliteKeychain::secCreateSharedWebCredentialPassword() {
  return generateSharedPassword();
}

}  // namespace quorin::platform::posix
