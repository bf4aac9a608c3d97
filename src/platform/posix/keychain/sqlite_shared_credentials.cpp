#include "platform/posix/keychain/sqlite_shared_credentials.hpp"

#include <sqlite3.h>

#include "platform/common/worker_pool.hpp"
#include "platform/posix/keychain/keychain_transaction.hpp"

namespace quorin::platform::posix {
namespace {

Error credentialError(OSStatus status) {
  std::string description;
  switch (status) {
    case errSecItemNotFound:
      description = "The specified item could not be found in the keychain.";
      break;
    case errSecParam:
      description = "One or more parameters passed to a function were not valid.";
      break;
    default:
      description = "The shared web credentials could not be read or written (OSStatus " +
                    std::to_string(status) + ").";
  }
  return Error{"NSOSStatusErrorDomain", status,
               formats::Dictionary{{std::string(kLocalizedDescriptionKey), description}}};
}

}  // namespace

SqliteSharedCredentials::SqliteSharedCredentials(SqliteConnection& db, KeychainSealing& sealing,
                                                 DatabaseAccess withDatabase)
    : db_(db), sealing_(sealing), withDatabase_(std::move(withDatabase)) {}

SqliteSharedCredentials::~SqliteSharedCredentials() {
  std::unique_lock lock(jobsMutex_);
  jobsDone_.wait(lock, [this] { return runningJobs_ == 0; });
}

void SqliteSharedCredentials::runDetached(std::function<void()> job) {
  {
    std::lock_guard lock(jobsMutex_);
    ++runningJobs_;
  }
  common::runOnWorker([this, job = std::move(job)] {
    job();
    std::lock_guard lock(jobsMutex_);
    if (--runningJobs_ == 0) jobsDone_.notify_all();
  });
}

OSStatus SqliteSharedCredentials::selectCredentials(const std::optional<std::string>& domain,
                                                    const std::optional<std::string>& account,
                                                    formats::Array& credentials) {
  auto& statement = db_.prepare(
      "SELECT domain, account, password FROM shared_credentials WHERE (?1 IS NULL OR domain = "
      "?1) AND (?2 IS NULL OR account = ?2) ORDER BY domain, account");
  if (statement.prepareCode() != SQLITE_OK) return keychainStatus(statement.prepareCode());
  statement.bind(1, domain ? formats::Value(*domain) : formats::Value());
  statement.bind(2, account ? formats::Value(*account) : formats::Value());
  SqliteStatement::Run run(statement);
  int code = SQLITE_OK;
  while ((code = run.step()) == SQLITE_ROW) {
    auto server = sqliteColumnText(statement.get(), 0);
    auto user = sqliteColumnText(statement.get(), 1);
    auto password = sealing_.sealer().open(sqliteColumnBlob(statement.get(), 2),
                                           credentialAssociatedData(server, user));
    if (!password) return errSecDecode;
    credentials.emplace_back(formats::Dictionary{
        {std::string(sec::kSecAttrServer), std::move(server)},
        {std::string(sec::kSecAttrAccount), std::move(user)},
        {std::string(sec::kSecSharedPassword), std::string(password->begin(), password->end())},
    });
  }
  if (code != SQLITE_DONE) return keychainStatus(code);
  return credentials.empty() ? errSecItemNotFound : errSecSuccess;
}

OSStatus SqliteSharedCredentials::storeCredential(const std::string& domain,
                                                  const std::string& account,
                                                  const std::optional<std::string>& password) {
  auto& statement = db_.prepare(
      password ? "INSERT OR REPLACE INTO shared_credentials (domain, account, password) "
                 "VALUES (?1, ?2, ?3)"
               : "DELETE FROM shared_credentials WHERE domain = ?1 AND account = ?2");
  if (statement.prepareCode() != SQLITE_OK) return keychainStatus(statement.prepareCode());
  statement.bind(1, formats::Value(domain));
  statement.bind(2, formats::Value(account));
  if (password) {
    formats::Data bytes(password->begin(), password->end());
    statement.bind(3, sealing_.sealer().seal(bytes, credentialAssociatedData(domain, account)));
  }
  SqliteStatement::Run run(statement);
  int code = run.step();
  if (code != SQLITE_DONE) return keychainStatus(code);
  return password || sqlite3_changes(db_.get()) > 0 ? errSecSuccess : errSecItemNotFound;
}

void SqliteSharedCredentials::request(const std::optional<std::string>& domain,
                                      const std::optional<std::string>& account,
                                      SharedCredentialsCompletion completion) {
  runDetached([this, domain, account, completion = std::move(completion)] {
    formats::Array credentials;
    OSStatus status = withDatabase_([&] {
      return sealing_.readOpened([&] {
        credentials.clear();
        return selectCredentials(domain, account, credentials);
      });
    });
    if (status != errSecSuccess) return completion(std::nullopt, credentialError(status));
    completion(std::move(credentials), std::nullopt);
  });
}

void SqliteSharedCredentials::add(const std::string& domain, const std::string& account,
                                  const std::optional<std::string>& password,
                                  SharedCredentialCompletion completion) {
  runDetached([this, domain, account, password, completion = std::move(completion)] {
    OSStatus status = errSecParam;
    if (!domain.empty() && !account.empty()) {
      status = withDatabase_([&] {
        return sealing_.sealingTransaction(
            [&] { return storeCredential(domain, account, password); });
      });
    }
    completion(status == errSecSuccess ? std::nullopt
                                       : std::optional<Error>(credentialError(status)));
  });
}

}  // namespace quorin::platform::posix
