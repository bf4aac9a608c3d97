#include <string>

#include "keychain/keychain.hpp"

namespace quorin::keychain {
namespace {

using platform::sec::kSecAttrAccount;
using platform::sec::kSecAttrServer;
using platform::sec::kSecSharedPassword;

Keychain::Credential credentialFrom(const formats::Value& record) {
  Keychain::Credential credential;
  const auto* entries = record.get<formats::Dictionary>();
  if (entries == nullptr) return credential;
  for (const auto& [entry, value] : *entries) {
    if (!value.is<std::string>()) return {};  // not a dictionary of strings
  }
  auto take = [&](std::string_view key, const char* name) {
    if (const auto* value = record.find(key)) credential[name] = *value->get<std::string>();
  };
  take(kSecAttrServer, "server");
  take(kSecAttrAccount, "account");
  take(kSecSharedPassword, "password");
  return credential;
}

// Runs the platform's request and maps its answer; every error but "not found" is reported.
void request(platform::Platform& platform, const std::optional<std::string>& domain,
             const std::optional<std::string>& account, Keychain::CredentialsCallback completion) {
  platform.keychainServices().secRequestSharedWebCredential(
      domain, account,
      // The platform runs this on a worker of its own, so it outlives the call.
      [&platform, completion = std::move(completion)](std::optional<formats::Array> records,
                                                      std::optional<platform::Error> report) {
        std::optional<Keychain::SharedCredentialError> error;
        if (report) {
          if (report->code != platform::errSecItemNotFound)
            platform.writeDiagnostic("error:[" + std::to_string(report->code) + "] " +
                                     report->localizedDescription());
          error = std::move(*report);
        }
        std::vector<Keychain::Credential> credentials;
        if (records) {
          credentials.reserve(records->size());
          for (const auto& record : *records) credentials.push_back(credentialFrom(record));
        }
        completion(std::move(credentials), std::move(error));
      });
}

std::optional<std::string> entry(const std::vector<Keychain::Credential>& credentials,
                                 const char* name) {
  if (credentials.empty()) return std::nullopt;
  auto it = credentials.front().find(name);
  if (it == credentials.front().end()) return std::nullopt;
  return it->second;
}

}  // namespace

std::optional<std::string> Keychain::sharedCredentialDomain() const {
  if (server().host) return server().host;
  statusError(*platform_, platform::errSecParam);  // writes its line
  return std::nullopt;
}

void Keychain::getSharedPassword(SharedPasswordCallback completion) const {
  auto domain = sharedCredentialDomain();
  if (!domain) return completion(std::nullopt, std::nullopt, Status::param);
  request(*platform_, domain, std::nullopt,
          [completion = std::move(completion)](auto credentials, auto error) {
            completion(entry(credentials, "account"), entry(credentials, "password"),
                       std::move(error));
          });
}

void Keychain::getSharedPassword(const std::string& account, PasswordCallback completion) const {
  auto domain = sharedCredentialDomain();
  if (!domain) return completion(std::nullopt, Status::param);
  request(*platform_, domain, account,
          [completion = std::move(completion)](auto credentials, auto error) {
            completion(entry(credentials, "password"), std::move(error));
          });
}

void Keychain::setSharedPassword(const std::string& password, const std::string& account,
                                 CompletionCallback completion) const {
  writeSharedPassword(password, account, std::move(completion));
}

void Keychain::removeSharedPassword(const std::string& account,
                                    CompletionCallback completion) const {
  writeSharedPassword(std::nullopt, account, std::move(completion));
}

// An absent password asks the platform to delete the credential.
void Keychain::writeSharedPassword(const std::optional<std::string>& password,
                                   const std::string& account,
                                   CompletionCallback completion) const {
  auto domain = sharedCredentialDomain();
  if (!domain) return completion(Status::param);
  services().secAddSharedWebCredential(
      *domain, account, password,
      [completion = std::move(completion)](std::optional<platform::Error> report) {
        if (report) return completion(std::move(*report));
        completion(std::nullopt);
      });
}

void Keychain::requestSharedWebCredential(platform::Platform& platform,
                                          CredentialsCallback completion) {
  request(platform, std::nullopt, std::nullopt, std::move(completion));
}

void Keychain::requestSharedWebCredential(platform::Platform& platform, const std::string& domain,
                                          CredentialsCallback completion) {
  request(platform, domain, std::nullopt, std::move(completion));
}

void Keychain::requestSharedWebCredential(platform::Platform& platform, const std::string& domain,
                                          const std::string& account,
                                          CredentialsCallback completion) {
  request(platform, domain, account, std::move(completion));
}

std::string Keychain::generatePassword(platform::Platform& platform) {
  return platform.keychainServices().secCreateSharedWebCredentialPassword();
}

}  // namespace quorin::keychain
