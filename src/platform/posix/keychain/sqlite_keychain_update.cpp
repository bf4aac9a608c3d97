// Updates that replace an item's value in place: one statement, which seals the new value
// for the item it lands in, instead of reading the item whole and writing it again.
#include <sqlite3.h>

#include <chrono>

#include "platform/posix/keychain/keychain_transaction.hpp"
#include "platform/posix/keychain/sqlite_keychain.hpp"
#include "platform/posix/sqlite/sqlite_statement.hpp"

namespace quorin::platform::posix {
namespace {

// The columns an identity is made of, in the order the SQL functions take them; the sync
// flag comes last.
constexpr std::string_view kIdentityColumns[] = {
    sec::kSecAttrAccessGroup, sec::kSecAttrAccount,  sec::kSecAttrService,
    sec::kSecAttrServer,      sec::kSecAttrProtocol, sec::kSecAttrAuthenticationType,
    sec::kSecAttrPort,        sec::kSecAttrPath,     sec::kSecAttrSecurityDomain};
constexpr int kIdentityArguments = static_cast<int>(std::size(kIdentityColumns)) + 2;

// As sqliteColumnValue() reads the column.
formats::Value valueOf(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      return formats::Value(static_cast<std::int64_t>(sqlite3_value_int64(value)));
    case SQLITE_FLOAT:
      return formats::Value(sqlite3_value_double(value));
    case SQLITE_TEXT:
      return formats::Value(std::string(reinterpret_cast<const char*>(sqlite3_value_text(value)),
                                        static_cast<std::size_t>(sqlite3_value_bytes(value))));
    case SQLITE_BLOB: {
      const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_value_blob(value));
      return formats::Value(formats::Data(bytes, bytes + sqlite3_value_bytes(value)));
    }
    default:
      return formats::Value();
  }
}

// The identity of the item whose class, identity columns and sync flag are `values`, made
// as primaryKey() makes it from the item read whole.
std::string identityOf(sqlite3_value** values) {
  StoredItem item;
  item.attributes[std::string(sec::kSecClass)] = valueOf(values[0]);
  for (std::size_t i = 0; i < std::size(kIdentityColumns); ++i) {
    formats::Value value = valueOf(values[1 + i]);
    if (!value.isNull()) item.attributes[std::string(kIdentityColumns[i])] = std::move(value);
  }
  item.attributes[std::string(sec::kSecAttrSynchronizable)] =
      sqlite3_value_int64(values[kIdentityArguments - 1]) != 0;
  return primaryKey(item);
}

std::string identityArguments(std::string_view sync) {
  std::string arguments = "class";
  for (auto column : kIdentityColumns) arguments += ", " + std::string(column);
  return arguments + ", " + std::string(sync);
}

}  // namespace

// What an in-place update writes; none of it is read back.
struct SqliteKeychain::InPlaceUpdate {
  const formats::Data* data = nullptr;
  const std::string* protection = nullptr;
  std::optional<bool> sync;
};

// A class stored as anything but text (the file is in the clear) has no identity here; the
// item is then read and written whole, which reports it.
void SqliteKeychain::sqlIdentity(sqlite3_context* context, int, sqlite3_value** values) {
  if (sqlite3_value_type(values[0]) != SQLITE_TEXT) {
    static_cast<SqliteKeychain*>(sqlite3_user_data(context))->rowNeedsWholeUpdate_ = true;
    sqlite3_result_error(context, "the item is read whole", -1);
    return;
  }
  auto identity = identityOf(values);
  sqlite3_result_blob64(context, identity.data(), identity.size(), SQLITE_TRANSIENT);
}

// Arguments: the new value, the identity arguments, then the columns that tell whether the
// row reads back whole from its columns: the class, the access control and the extras.
void SqliteKeychain::sqlSeal(sqlite3_context* context, int, sqlite3_value** values) {
  auto* keychain = static_cast<SqliteKeychain*>(sqlite3_user_data(context));
  sqlite3_value** row = values + 1 + kIdentityArguments;
  bool plain =
      sqlite3_value_type(values[1]) == SQLITE_TEXT &&
      (sqlite3_value_type(row[0]) == SQLITE_NULL || sqlite3_value_type(row[0]) == SQLITE_TEXT) &&
      sqlite3_value_type(row[1]) == SQLITE_NULL;
  if (!plain) {
    keychain->rowNeedsWholeUpdate_ = true;
    sqlite3_result_error(context, "the item is read whole", -1);
    return;
  }
  auto* bytes = static_cast<const std::uint8_t*>(sqlite3_value_blob(values[0]));
  auto sealed = keychain->sealing_.sealer().seal(
      {bytes, static_cast<std::size_t>(sqlite3_value_bytes(values[0]))}, identityOf(values + 1));
  sqlite3_result_blob64(context, sealed.data(), sealed.size(), SQLITE_TRANSIENT);
}

int SqliteKeychain::registerSqlFunctions() {
  // Direct only: a trigger or view in a tampered file cannot call them.
  constexpr int kFlags = SQLITE_UTF8 | SQLITE_DIRECTONLY;
  int code = sqlite3_create_function_v2(db_.get(), "quorin_identity", kIdentityArguments, kFlags,
                                        this, sqlIdentity, nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) return code;
  return sqlite3_create_function_v2(db_.get(), "quorin_seal", 1 + kIdentityArguments + 2, kFlags,
                                    this, sqlSeal, nullptr, nullptr, nullptr);
}

// Applies to changes of the value, the protection class and the sync flag only, typed as
// applyUpdate() takes them, and to queries that SQL selects alone.
std::optional<OSStatus> SqliteKeychain::updateInPlace(const KeychainQuery& query,
                                                      const formats::Dictionary& changes) {
  InPlaceUpdate update;
  for (const auto& [key, value] : changes) {
    if (key == sec::kSecValueData && value.is<formats::Data>()) {
      update.data = value.get<formats::Data>();
    } else if (key == sec::kSecAttrAccessible && value.is<std::string>()) {
      update.protection = value.get<std::string>();
    } else if (key == sec::kSecAttrSynchronizable && value.is<bool>()) {
      update.sync = *value.get<bool>();
    } else {
      return std::nullopt;
    }
  }
  Selection selection = selectionFor(query);
  if (update.data == nullptr || selection.needsFilter) return std::nullopt;
  std::lock_guard lock(mutex_);
  if (OSStatus status = ensureOpen(); status != errSecSuccess) return status;
  rowNeedsWholeUpdate_ = false;
  OSStatus status = runInPlaceUpdate(selection, update);
  if (rowNeedsWholeUpdate_) return std::nullopt;
  return status;
}

// Parameters after the selection's: the value, the modification date, then the sync flag
// and the protection class when they change.
OSStatus SqliteKeychain::runInPlaceUpdate(Selection& selection, const InPlaceUpdate& update) {
  auto next = [&] { return "?" + std::to_string(selection.parameters.size() + 1); };
  std::string value = next();
  selection.parameters.push_back(*update.data);
  std::string set = " SET mdat = " + next();
  selection.parameters.push_back(keychainNow());
  std::string sync = "sync";
  if (update.sync) {
    sync = next();
    selection.parameters.push_back(*update.sync);
    set += ", sync = " + sync;
  }
  if (update.protection) {
    set += ", pdmn = " + next() + ", accc_protection = NULL, accc_flags = NULL";
    selection.parameters.push_back(*update.protection);
  }
  auto identity = identityArguments(sync);
  set += ", identity = quorin_identity(" + identity + "), data = quorin_seal(" + value + ", " +
         identity + ", accc_protection, extra)";
  SqliteStatement& statement = prepare("UPDATE items" + set + selection.sql);
  if (statement.prepareCode() != SQLITE_OK) return keychainStatus(statement.prepareCode());
  return sealing_.sealingTransaction([&]() -> OSStatus {
    for (std::size_t i = 0; i < selection.parameters.size(); ++i)
      statement.bind(static_cast<int>(i + 1), selection.parameters[i]);
    SqliteStatement::Run run(statement);
    int code = run.step();
    if (code != SQLITE_DONE) return keychainStatus(sqlite3_extended_errcode(db_.get()));
    return sqlite3_changes(db_.get()) > 0 ? errSecSuccess : errSecItemNotFound;
  });
}

}  // namespace quorin::platform::posix
