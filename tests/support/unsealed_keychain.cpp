#include "support/unsealed_keychain.hpp"

#include <sqlite3.h>

#include <stdexcept>

#include "platform/posix/keychain/keychain_query.hpp"

namespace quorin::testing {
namespace {

constexpr const char* kUnsealedSchema = R"sql(
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
CREATE TABLE shared_credentials (
  domain TEXT NOT NULL,
  account TEXT NOT NULL,
  password TEXT NOT NULL,
  PRIMARY KEY (domain, account)
);
PRAGMA journal_mode=WAL;
PRAGMA user_version=1;
)sql";

void check(int code, sqlite3* db) {
  if (code != SQLITE_OK && code != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
}

}  // namespace

void writeUnsealedKeychain(const std::filesystem::path& database,
                           const std::vector<std::pair<std::string, std::string>>& items,
                           const std::vector<PlainCredential>& credentials) {
  namespace sec = platform::sec;
  std::filesystem::create_directories(database.parent_path());
  sqlite3* db = nullptr;
  check(sqlite3_open(database.c_str(), &db), db);
  check(sqlite3_exec(db, kUnsealedSchema, nullptr, nullptr, nullptr), db);
  check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
  sqlite3_stmt* insert = nullptr;
  check(sqlite3_prepare_v2(db,
                           "INSERT INTO items (identity, class, sync, acct, svce, pdmn, cdat, "
                           "mdat, data) VALUES (?1, 'genp', 0, ?2, 'svc', 'ak', 1, 1, ?3)",
                           -1, &insert, nullptr),
        db);
  for (const auto& [account, value] : items) {
    platform::posix::StoredItem item;
    formats::Dictionary request{
        {std::string(sec::kSecClass), std::string(sec::kSecClassGenericPassword)},
        {std::string(sec::kSecAttrService), "svc"},
        {std::string(sec::kSecAttrAccount), account}};
    // The SQLite keychain finds items by its own identity key, so only its engine can make one.
    platform::posix::attributesForAdd(request, 1, item);
    auto identity = platform::posix::primaryKey(item);
    sqlite3_bind_blob(insert, 1, identity.data(), static_cast<int>(identity.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, account.data(), static_cast<int>(account.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert, 3, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    check(sqlite3_step(insert), db);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  for (const auto& credential : credentials) {
    std::string sql = "INSERT INTO shared_credentials VALUES ('" + credential.domain + "', '" +
                      credential.account + "', '" + credential.password + "')";
    check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), db);
  }
  check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
  sqlite3_close(db);
}

}  // namespace quorin::testing
