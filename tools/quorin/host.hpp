#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "json_output.hpp"
#include "platform/linux/linux_platform.hpp"
#include "quorin/quorin_client.hpp"

namespace quorin::cli {

struct GlobalOptions {
  std::filesystem::path container;
  std::optional<std::filesystem::path> infoPlist;
  std::optional<std::string> cloudAccount;
  platform::posix::KeychainKeyOptions keychainKey;
  bool json = false;
};

// What a command needs beyond the device's platform.
enum class Facade {
  none,           // nothing: no facade, and so no cloud store that would sync
  made,           // a facade on the device
  afterExchange,  // a facade whose store's first reads see the account's current values
};

// The device the command runs as: its platform, installed as the process default, and a
// facade on it when the command asks for one. Throws std::runtime_error, having made nothing,
// when the container cannot be made or read.
struct Host {
  explicit Host(const GlobalOptions& options, Facade facade = Facade::made);

  std::shared_ptr<platform::linux::LinuxPlatform> platform;
  // How the device stood after the exchange of Facade::afterExchange.
  std::optional<platform::posix::ReplicaStatus> firstExchange;
  std::unique_ptr<QRNQuorinClient> client;
};

// Prints what a read of `key` in `place` found; the exit status: 0, or 1 for nothing.
int printLookup(const std::string& key, const std::optional<std::string>& value, bool json,
                std::string_view place);

struct KeychainRequest {
  // get, set, remove, clear, list, shared, generate-password, status or rotate-key
  std::string action;
  std::string service;
  std::string key;
  std::string value;
};

struct SharedCredentialRequest {
  std::string action;  // get, set or remove
  std::string server;
  std::optional<std::string> account;
  std::string password;
};

struct CloudRequest {
  std::string action;  // get, set, remove, status, provision-account or revoke-account
  std::string key;     // the account's name for provision-account and revoke-account
  std::string value;   // the server's URL for provision-account and revoke-account
  double timeoutSeconds = 30;
};

struct MigrateRequest {
  bool clear = false;
  bool force = false;  // clear even after a failed read or write
};

int runInfo(const GlobalOptions& options, const std::vector<std::string>& schemes);
int runEvents(const GlobalOptions& options);
int runKeychain(const GlobalOptions& options, const KeychainRequest& request);
int runSharedCredential(const GlobalOptions& options, const SharedCredentialRequest& request);
int runCloud(const GlobalOptions& options, const CloudRequest& request);
// Creates, renews or deletes the server's user for one account.
int runCloudAccountUser(const CloudRequest& request, bool json);
// Masks the passwords and file paths of the Redis URLs among the arguments, in place, so
// that the process's command line no longer shows them; CLI11 holds copies.
void maskCloudSecrets(int argc, char** argv);
// Collects the legacy data, prints what was written, and erases it all with `clear`.
int runMigrate(const GlobalOptions& options, const MigrateRequest& request);

}  // namespace quorin::cli
