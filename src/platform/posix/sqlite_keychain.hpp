#pragma once

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/keychain_services.hpp"
#include "platform/posix/keychain_query.hpp"
#include "platform/posix/sqlite_database.hpp"

namespace quorin::platform::posix {

// The keychain in one SQLite database (mode 0600, WAL, one transaction per call, a busy
// timeout so that several processes share it). Opened on first use; a file that is not a
// keychain database makes every call fail with errSecInvalidKeychain and is left as it is.
class SqliteKeychain final : public KeychainServices {
 public:
  explicit SqliteKeychain(std::filesystem::path database);
  ~SqliteKeychain() override;

  OSStatus secItemCopyMatching(const Dictionary& query, std::optional<Value>* result) override;
  OSStatus secItemAdd(const Dictionary& attributes) override;
  OSStatus secItemUpdate(const Dictionary& query, const Dictionary& attributes) override;
  OSStatus secItemDelete(const Dictionary& query) override;
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

  // Why the database cannot be used, or none; opens it when it is not open yet.
  std::optional<std::string> problem();

 private:
  struct Selection;

  OSStatus ensureOpen();
  OSStatus openDatabase();
  OSStatus createSchema();
  SqliteStatement& prepare(const std::string& sql);
  OSStatus select(const KeychainQuery& query, bool wholeItems, std::vector<StoredItem>& items);
  OSStatus insert(const StoredItem& item);
  OSStatus erase(std::int64_t id);
  OSStatus transaction(const std::function<OSStatus()>& body);
  // Runs `change` on the items `query` selects, in one transaction; none is errSecItemNotFound.
  OSStatus changeMatching(const Dictionary& query, bool wholeItems,
                          const std::function<OSStatus(std::vector<StoredItem>&)>& change);
  OSStatus statusOf(int sqliteCode);
  OSStatus selectCredentials(const std::optional<std::string>& domain,
                             const std::optional<std::string>& account, Array& credentials);
  OSStatus storeCredential(const std::string& domain, const std::string& account,
                           const std::optional<std::string>& password);
  // Runs `job` on a worker; the keychain outlives every job it started.
  void runDetached(std::function<void()> job);

  std::filesystem::path path_;
  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  std::optional<OSStatus> openFailure_;
  std::string problem_;
  std::unordered_map<std::string, std::unique_ptr<SqliteStatement>> statements_;
  std::mutex jobsMutex_;
  std::condition_variable jobsDone_;
  int runningJobs_ = 0;
};

}  // namespace quorin::platform::posix
