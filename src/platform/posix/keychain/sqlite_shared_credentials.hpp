#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/keychain_services.hpp"
#include "platform/posix/keychain/keychain_sealing.hpp"
#include "platform/posix/sqlite/sqlite_connection.hpp"

namespace quorin::platform::posix {

// The shared web credentials of the keychain database, one row a domain and account, their
// passwords sealed as the items' values are. Safe to use from any thread: each call runs
// detached on a worker, reaching the database only through `withDatabase`, which holds the
// keychain's lock; completions run on that worker, outside the lock. The destructor waits
// until every job it started has finished, so its owner outlives them.
class SqliteSharedCredentials {
 public:
  // Runs `body` holding the keychain's lock with the database open, or says why it is not.
  using DatabaseAccess = std::function<OSStatus(const std::function<OSStatus()>& body)>;

  SqliteSharedCredentials(SqliteConnection& db, KeychainSealing& sealing,
                          DatabaseAccess withDatabase);
  ~SqliteSharedCredentials();
  SqliteSharedCredentials(const SqliteSharedCredentials&) = delete;
  SqliteSharedCredentials& operator=(const SqliteSharedCredentials&) = delete;

  void request(const std::optional<std::string>& domain, const std::optional<std::string>& account,
               SharedCredentialsCompletion completion);
  void add(const std::string& domain, const std::string& account,
           const std::optional<std::string>& password, SharedCredentialCompletion completion);

 private:
  OSStatus selectCredentials(const std::optional<std::string>& domain,
                             const std::optional<std::string>& account,
                             formats::Array& credentials);
  OSStatus storeCredential(const std::string& domain, const std::string& account,
                           const std::optional<std::string>& password);
  // Runs `job` on a worker; this object outlives every job it started.
  void runDetached(std::function<void()> job);

  SqliteConnection& db_;
  KeychainSealing& sealing_;
  DatabaseAccess withDatabase_;
  std::mutex jobsMutex_;
  std::condition_variable jobsDone_;
  int runningJobs_ = 0;
};

}  // namespace quorin::platform::posix
