// How the keychain database comes to be sealed, finds its key again, and changes key.
#include "platform/posix/keychain/keychain_sealing.hpp"

#include <sqlite3.h>

#include "formats/excerpt.hpp"
#include "platform/posix/keychain/keychain_transaction.hpp"
#include "platform/posix/sqlite/sqlite_statement.hpp"

namespace quorin::platform::posix {
namespace {

constexpr int kUnsealedVersion = 1;
constexpr int kSealedVersion = 2;

constexpr const char* kSealedSchema = R"sql(
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

// Tables that unsealed databases may lack; made in both kinds.
constexpr const char* kSealingTables = R"sql(
CREATE TABLE IF NOT EXISTS shared_credentials (
  domain TEXT NOT NULL,
  account TEXT NOT NULL,
  password BLOB NOT NULL,
  PRIMARY KEY (domain, account)
);
CREATE TABLE keychain_key (store TEXT NOT NULL, key_id TEXT NOT NULL);
)sql";

}  // namespace

std::string credentialAssociatedData(std::string_view domain, std::string_view account) {
  std::string data = "shared-credential";
  data.push_back('\0');
  data.append(domain);
  data.push_back('\0');
  data.append(account);
  return data;
}

KeychainSealing::KeychainSealing(SqliteConnection& db, std::filesystem::path path,
                                 KeychainKeyOptions keyOptions, std::string& problem)
    : db_(db), path_(std::move(path)), keyOptions_(std::move(keyOptions)), problem_(problem) {}

OSStatus KeychainSealing::transaction(const std::function<OSStatus()>& body) {
  return keychainTransaction(db_, body);
}

OSStatus KeychainSealing::sealingTransaction(const std::function<OSStatus()>& body) {
  return transaction([&]() -> OSStatus {
    if (OSStatus status = useRecordedKey(); status != errSecSuccess) return status;
    return body();
  });
}

OSStatus KeychainSealing::readOpened(const std::function<OSStatus()>& read) {
  OSStatus status = read();
  if (status != errSecDecode) return status;
  std::string keyId = sealer_->keyId();
  if (OSStatus followed = transaction([this] { return useRecordedKey(); });
      followed != errSecSuccess)
    return followed;
  return sealer_->keyId() == keyId ? status : read();
}

OSStatus KeychainSealing::createSchema() {
  int version = -1;
  int code = sqliteInteger(db_.get(), "PRAGMA user_version", version);
  if (code != SQLITE_OK) return keychainStatus(code);
  if (version == kSealedVersion) return transaction([this] { return useRecordedKey(); });
  return sealDatabase();
}

bool KeychainSealing::readRecordedKey(std::string& storeName, std::string& keyId) {
  auto& statement = prepare("SELECT store, key_id FROM keychain_key");
  SqliteStatement::Run run(statement);
  if (statement.prepareCode() != SQLITE_OK || run.step() != SQLITE_ROW) return false;
  storeName = sqliteColumnText(statement.get(), 0);
  keyId = sqliteColumnText(statement.get(), 1);
  return true;
}

OSStatus KeychainSealing::useRecordedKey() {
  std::string storeName, keyId;
  if (!readRecordedKey(storeName, keyId)) {
    problem_ = path_.string() + " records no key; it is left as it is";
    return errSecInvalidKeychain;
  }
  if (keyStore_ && keyStore_->name() == storeName && sealer_->keyId() == keyId)
    return errSecSuccess;
  auto fail = [&](const std::string& why) {
    problem_ = path_.string() + " is sealed with key " + formats::excerpt(keyId) + " from the " +
               formats::excerpt(storeName) + " store; " + why + ". It is left as it is";
    return errSecAuthFailed;
  };
  auto wanted = keyStoreOrder(keyOptions_);
  if ((keyOptions_.store || keyOptions_.hostKey) && wanted.front() != storeName)
    return fail("the " + std::string(wanted.front()) + " store was asked for");
  auto store = makeKeyStore(storeName, path_, keyOptions_);
  if (!store) return fail("that store is unknown here");
  if (auto why = store->unavailable()) return fail(*why);
  auto key = store->find(keyId);
  if (!key) return fail("the store has no such key");
  keyStore_ = std::move(store);
  sealer_ = std::make_unique<ValueSealer>(*key);
  return errSecSuccess;
}

OSStatus KeychainSealing::chooseKey(std::unique_ptr<KeychainKeyStore>& store, KeychainKey& key,
                                    bool& created) {
  std::string reasons;
  for (auto name : keyStoreOrder(keyOptions_)) {
    auto candidate = makeKeyStore(name, path_, keyOptions_);
    auto why = candidate ? candidate->unavailable() : "unknown store";
    std::optional<KeychainKey> found;
    if (!why) {
      found = candidate->find(std::nullopt);
      created = !found;
      if (!found) found = candidate->create();
      if (!found) why = "no key could be kept there";
    }
    if (found) {
      store = std::move(candidate);
      key = *found;
      return errSecSuccess;
    }
    reasons += (reasons.empty() ? "" : "; ") + std::string(name) + ": " + *why;
  }
  problem_ = "no store can keep the key for " + path_.string() + " (" + reasons + ")";
  return errSecNotAvailable;
}

// In one transaction with the database's write lock held, so that of several processes
// opening it at once, one seals it and the others find its key.
OSStatus KeychainSealing::sealDatabase() {
  std::unique_ptr<KeychainKeyStore> store;
  std::unique_ptr<ValueSealer> sealer;
  KeychainKey key{};
  bool created = false;
  bool sealedHere = false;
  OSStatus status = transaction([&]() -> OSStatus {
    int version = -1, tables = -1;
    int code = sqliteInteger(db_.get(), "PRAGMA user_version", version);
    if (code == SQLITE_OK)
      code = sqliteInteger(db_.get(), "SELECT count(*) FROM sqlite_master", tables);
    if (code != SQLITE_OK) return keychainStatus(code);
    if (version == kSealedVersion) return useRecordedKey();
    if (version != kUnsealedVersion && (version != 0 || tables != 0)) {
      problem_ = path_.string() + " is a database of another kind or version; it is left as it is";
      return errSecInvalidKeychain;
    }
    if (OSStatus chosen = chooseKey(store, key, created); chosen != errSecSuccess) return chosen;
    // No key is recorded yet, so a crash after this leaves the new key for the next try.
    if (created) store->promote(key);
    sealer = std::make_unique<ValueSealer>(key);
    if (version == 0) code = sqlite3_exec(db_.get(), kSealedSchema, nullptr, nullptr, nullptr);
    if (code == SQLITE_OK)
      code = sqlite3_exec(db_.get(), kSealingTables, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) return keychainStatus(code);
    if (OSStatus resealed = resealAll(nullptr, *sealer); resealed != errSecSuccess) return resealed;
    SqliteStatement record(db_.get(), "INSERT INTO keychain_key (store, key_id) VALUES (?1, ?2)");
    record.bind(1, formats::Value(std::string(store->name())));
    record.bind(2, formats::Value(sealer->keyId()));
    SqliteStatement::Run run(record);
    if (run.step() != SQLITE_DONE) return keychainStatus(sqlite3_extended_errcode(db_.get()));
    code =
        sqlite3_exec(db_.get(), ("PRAGMA user_version=" + std::to_string(kSealedVersion)).c_str(),
                     nullptr, nullptr, nullptr);
    sealedHere = code == SQLITE_OK;
    return keychainStatus(code);
  });
  if (status != errSecSuccess || !sealedHere) return status;
  // The unsealed pages of an upgraded database leave the main file and the log.
  sqlite3_wal_checkpoint_v2(db_.get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  keyStore_ = std::move(store);
  sealer_ = std::move(sealer);
  return errSecSuccess;
}

namespace {

// One sealed cell: its row, what it is bound to, and its bytes.
struct SealedCell {
  std::int64_t row;
  std::string associated;
  formats::Data bytes;
};

// Reads every cell that `select` gives as (rowid, bytes, ...), binding each with `associated`,
// then writes each back through `update` (bytes, rowid), opened with `from` (none: it was
// stored unsealed) and sealed with `to`.
OSStatus reseal(sqlite3* db, const char* select, const char* update,
                std::string (*associated)(sqlite3_stmt*), const ValueSealer* from,
                const ValueSealer& to) {
  std::vector<SealedCell> cells;
  {
    SqliteStatement statement(db, select);
    SqliteStatement::Run run(statement);
    int code;
    while ((code = run.step()) == SQLITE_ROW) {
      cells.push_back({sqlite3_column_int64(statement.get(), 0), associated(statement.get()),
                       sqliteColumnBlob(statement.get(), 1)});
    }
    if (code != SQLITE_DONE) return errSecIO;
  }
  SqliteStatement statement(db, update);
  for (auto& cell : cells) {
    auto opened = from ? from->open(cell.bytes, cell.associated) : std::optional(cell.bytes);
    if (!opened) return errSecDecode;
    statement.bind(1, to.seal(*opened, cell.associated));
    statement.bind(2, formats::Value(cell.row));
    SqliteStatement::Run run(statement);
    if (run.step() != SQLITE_DONE) return errSecIO;
  }
  return errSecSuccess;
}

}  // namespace

OSStatus KeychainSealing::resealAll(const ValueSealer* from, const ValueSealer& to) {
  OSStatus status = reseal(
      db_.get(), "SELECT id, data, identity FROM items", "UPDATE items SET data = ?1 WHERE id = ?2",
      [](sqlite3_stmt* row) { return sqliteColumnText(row, 2); }, from, to);
  if (status != errSecSuccess) return status;
  return reseal(
      db_.get(), "SELECT rowid, CAST(password AS BLOB), domain, account FROM shared_credentials",
      "UPDATE shared_credentials SET password = ?1 WHERE rowid = ?2",
      [](sqlite3_stmt* row) {
        return credentialAssociatedData(sqliteColumnText(row, 2), sqliteColumnText(row, 3));
      },
      from, to);
}

std::optional<KeychainKeyState> KeychainSealing::keyState() {
  if (transaction([this] { return useRecordedKey(); }) != errSecSuccess) return std::nullopt;
  int items = 0;
  if (sqliteInteger(db_.get(), "SELECT count(*) FROM items", items) != SQLITE_OK)
    return std::nullopt;
  return KeychainKeyState{std::string(keyStore_->name()), sealer_->keyId(), items};
}

OSStatus KeychainSealing::rotateKey() {
  std::optional<KeychainKey> key;
  std::unique_ptr<ValueSealer> sealer;
  // Made under the write lock, so that no other rotation or write comes between the new key
  // and the values sealed with it.
  OSStatus status = sealingTransaction([&]() -> OSStatus {
    key = keyStore_->create();
    if (!key) {
      problem_ = "the " + std::string(keyStore_->name()) + " store cannot make a new key";
      return errSecUnimplemented;
    }
    sealer = std::make_unique<ValueSealer>(*key);
    if (OSStatus resealed = resealAll(sealer_.get(), *sealer); resealed != errSecSuccess)
      return resealed;
    SqliteStatement record(db_.get(), "UPDATE keychain_key SET key_id = ?1");
    record.bind(1, formats::Value(sealer->keyId()));
    SqliteStatement::Run run(record);
    return run.step() == SQLITE_DONE ? errSecSuccess
                                     : keychainStatus(sqlite3_extended_errcode(db_.get()));
  });
  if (status != errSecSuccess) return status;
  sealer_ = std::move(sealer);
  // Only while the database still records it: a later rotation may have replaced it already.
  // Left pending if this fails, it is still found by its id and made current by the next
  // process that finds it.
  transaction([&]() -> OSStatus {
    std::string storeName, keyId;
    if (readRecordedKey(storeName, keyId) && keyId == sealer_->keyId()) keyStore_->promote(*key);
    return errSecSuccess;
  });
  return errSecSuccess;
}

}  // namespace quorin::platform::posix
