#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/keychain_services.hpp"
#include "support/memory_keychain_query.hpp"

namespace quorin::testing {

// The keychain in memory, reading queries with a matcher of its own. A test can
// make the next call of a kind fail with a given code, and script what the shared web
// credential calls answer; those answer on a thread of their own.
class InMemoryKeychain final : public platform::KeychainServices {
 public:
  struct CredentialAnswer {
    std::optional<formats::Array> credentials;
    std::optional<platform::Error> error;
  };
  struct CredentialWrite {
    std::string domain;
    std::string account;
    std::optional<std::string> password;
  };

  ~InMemoryKeychain() override;

  platform::OSStatus secItemCopyMatching(const formats::Dictionary& query,
                                         std::optional<formats::Value>* result) override;
  platform::OSStatus secItemAdd(const formats::Dictionary& attributes) override;
  platform::OSStatus secItemUpdate(const formats::Dictionary& query,
                                   const formats::Dictionary& attributes) override;
  platform::OSStatus secItemDelete(const formats::Dictionary& query) override;
  std::shared_ptr<const platform::AccessControl> secAccessControlCreateWithFlags(
      std::string_view protection, std::uint64_t flags,
      std::optional<platform::Error>* error) override;
  void secRequestSharedWebCredential(const std::optional<std::string>& domain,
                                     const std::optional<std::string>& account,
                                     platform::SharedCredentialsCompletion completion) override;
  void secAddSharedWebCredential(const std::string& domain, const std::string& account,
                                 const std::optional<std::string>& password,
                                 platform::SharedCredentialCompletion completion) override;
  std::string secCreateSharedWebCredentialPassword() override { return generatedPassword; }

  // Waits until every completion so far has run.
  void waitForCompletions();
  // What the next request answers, in place of the credentials written so far.
  std::optional<CredentialAnswer> nextCredentialAnswer;
  // What the next write answers; it then writes nothing.
  std::optional<platform::Error> nextCredentialWriteError;
  std::vector<CredentialWrite> credentialWrites;
  std::string generatedPassword = "abc-DEF-123-ghi";

  // The next add answers `status` without storing anything (for races and faults).
  void failNextAdd(platform::OSStatus status) { nextAddFailure_ = status; }
  // Runs before the next add, as another writer would between the probe and the add.
  void beforeNextAdd(std::function<void()> intrusion) { beforeNextAdd_ = std::move(intrusion); }
  std::size_t size() const;

 private:
  std::vector<MemoryItem*> matching(const MemoryQuery& query);
  platform::OSStatus add(const formats::Dictionary& attributes);

  mutable std::recursive_mutex mutex_;
  std::vector<MemoryItem> items_;
  std::int64_t nextId_ = 1;
  double clock_ = 1'700'000'000;
  std::optional<platform::OSStatus> nextAddFailure_;
  std::function<void()> beforeNextAdd_;
  std::map<std::pair<std::string, std::string>, std::string> credentials_;
  std::vector<std::thread> completions_;
};

}  // namespace quorin::testing
