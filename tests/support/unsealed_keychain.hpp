#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace quorin::testing {

struct PlainCredential {
  std::string domain, account, password;
};

// A keychain database of the kind made before values were sealed: generic passwords of the
// service "svc" under the given accounts, and shared credentials, all stored in the clear.
void writeUnsealedKeychain(const std::filesystem::path& database,
                           const std::vector<std::pair<std::string, std::string>>& items,
                           const std::vector<PlainCredential>& credentials = {});

}  // namespace quorin::testing
