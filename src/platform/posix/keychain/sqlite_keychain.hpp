#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/keychain_services.hpp"
#include "platform/posix/keychain/keychain_key_store.hpp"
#include "platform/posix/keychain/keychain_query.hpp"
#include "platform/posix/keychain/keychain_sealing.hpp"
#include "platform/posix/keychain/sqlite_shared_credentials.hpp"
#include "platform/posix/sqlite/sqlite_connection.hpp"

struct sqlite3_context;
struct sqlite3_value;

namespace quorin::platform::posix {

// The keychain in one SQLite database (mode 0600, WAL, one transaction per call, a busy
// timeout so that several processes share it). Values are sealed under a key from a
// KeychainKeyStore; the database records which store and key, and a database of the earlier,
// unsealed kind is sealed in place on first open. Opened on first use; a file that is not a
// keychain database makes every call fail with errSecInvalidKeychain, and a missing or wrong
// key with errSecAuthFailed, and either is left as it is.
// This class is the item store: item calls, rows and their selection, the in-place update. It
// opens the database and hands the sealing and the shared credentials to the classes it
// composes. Safe to use from any thread: one mutex serialises every use of the database, its
// own calls, the sealing's and the credential jobs'; no callback runs under it.
class SqliteKeychain final : public KeychainServices {
 public:
  explicit SqliteKeychain(DatabaseLocation database, KeychainKeyOptions keyOptions = {});
  ~SqliteKeychain() override;

  OSStatus secItemCopyMatching(const formats::Dictionary& query,
                               std::optional<formats::Value>* result) override;
  OSStatus secItemAdd(const formats::Dictionary& attributes) override;
  OSStatus secItemUpdate(const formats::Dictionary& query,
                         const formats::Dictionary& attributes) override;
  OSStatus secItemDelete(const formats::Dictionary& query) override;
  std::shared_ptr<const AccessControl> secAccessControlCreateWithFlags(
      std::string_view protection, std::uint64_t flags, std::optional<Error>* error) override;
  // Shared web credentials live in the same database and answer on a worker thread.
  void secRequestSharedWebCredential(const std::optional<std::string>& domain,
                                     const std::optional<std::string>& account,
                                     SharedCredentialsCompletion completion) override;
  void secAddSharedWebCredential(const std::string& domain, const std::string& account,
                                 const std::optional<std::string>& password,
                                 SharedCredentialCompletion completion) override;
  std::string secCreateSharedWebCredentialPassword() override;

  // Why the database cannot be used, or none; opens it when it is not open yet, which a call
  // after a failed open tries again.
  std::optional<std::string> problem();
  // The store, key and item count; none when the database cannot be opened.
  std::optional<KeychainKeyState> keyState();
  // Seals every value under a new key from the same store, in one transaction; until it
  // commits, the old key keeps working.
  OSStatus rotateKey();

 private:
  // The WHERE clause that selects a query's items, its parameters, and whether some of its
  // entries must still be matched against the items read.
  struct Selection {
    std::string sql;
    std::vector<formats::Value> parameters;
    bool needsFilter = false;
  };
  struct InPlaceUpdate;

  OSStatus ensureOpen();
  OSStatus openDatabase();
  // Runs `body` under the lock with the database open; how the credential jobs reach it.
  OSStatus withOpenDatabase(const std::function<OSStatus()>& body);
  SqliteStatement& prepare(const std::string& sql) { return db_.prepare(sql); }
  // What a selection reads of each item: only what the query itself needs, or every
  // attribute (to write the item back whole).
  enum class ItemColumns { needed, all };
  // Opened values fail with errSecDecode when one does not open, except in a listing, where
  // such an item is marked damaged.
  enum class ItemValues { sealed, opened };
  OSStatus select(const KeychainQuery& query, ItemColumns columns, ItemValues values,
                  std::vector<StoredItem>& items);
  OSStatus insert(const StoredItem& item);
  OSStatus erase(std::int64_t id);
  // Runs `change` on the items `query` selects, in one transaction; none is errSecItemNotFound.
  OSStatus changeMatching(const formats::Dictionary& query, ItemColumns columns, ItemValues values,
                          const std::function<OSStatus(std::vector<StoredItem>&)>& change);
  Selection selectionFor(const KeychainQuery& query);
  // An update that only replaces the value and the protection class, and may move the sync
  // flag, as one UPDATE statement in one transaction, the sealing done by the statement.
  // None when it does not apply: then the items are read and written whole.
  std::optional<OSStatus> updateInPlace(const KeychainQuery& query,
                                        const formats::Dictionary& changes);
  OSStatus runInPlaceUpdate(Selection& selection, const InPlaceUpdate& update);
  // SQL functions of the connection: an item's identity from its columns, and a value sealed
  // for it; the latter refuses a row that must be read whole (see updateInPlace).
  int registerSqlFunctions();
  static void sqlIdentity(sqlite3_context* context, int count, sqlite3_value** values);
  static void sqlSeal(sqlite3_context* context, int count, sqlite3_value** values);

  std::mutex mutex_;
  SqliteConnection db_;
  std::optional<OSStatus> openFailure_;
  std::string problem_;
  bool rowNeedsWholeUpdate_ = false;
  KeychainSealing sealing_;
  // Last, so that it is destroyed first: it waits for its jobs, which use all of the above.
  SqliteSharedCredentials credentials_;
};

}  // namespace quorin::platform::posix
