#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/keychain/value_sealer.hpp"

namespace quorin::platform::posix {

inline constexpr std::string_view kHostKeyStore = "host";
inline constexpr std::string_view kSecretServiceKeyStore = "secret-service";
inline constexpr std::string_view kKeyFileKeyStore = "key-file";

// What the host says about the key that seals its keychain.
struct KeychainKeyOptions {
  // A key from the host's own key store; it implies the "host" store.
  std::optional<KeychainKey> hostKey = std::nullopt;
  // The store to use, one of the names above; none tries host, Secret Service, key file.
  std::optional<std::string> store = std::nullopt;
};

// Where a container's keychain key is kept. A store holds the current key and, while a new key
// is being brought in, that pending one too, so that a crash at any point leaves a key that
// opens the database. Each pending key is kept apart under its own id. find() with an id and
// promote() change which key is current, so they are called with the database's write lock
// held and only for the key the database records (or, before it records one, for the key
// about to be recorded).
class KeychainKeyStore {
 public:
  virtual ~KeychainKeyStore() = default;

  virtual std::string_view name() const = 0;
  // Why the store cannot be used now, or none.
  virtual std::optional<std::string> unavailable() = 0;
  // The kept key named `keyId`, current or pending; without an id, the current key. A pending
  // key found by its id was committed to the database, so it becomes the current one.
  virtual std::optional<KeychainKey> find(const std::optional<std::string>& keyId) = 0;
  // A new key, kept as pending; none when the store cannot make or keep one.
  virtual std::optional<KeychainKey> create() = 0;
  // Makes the pending `key` the current one and forgets the key it replaces and every other
  // pending key.
  virtual bool promote(const KeychainKey& key) = 0;
};

// The store named `name` for the keychain database at `database`; none for an unknown name.
std::unique_ptr<KeychainKeyStore> makeKeyStore(std::string_view name,
                                               const std::filesystem::path& database,
                                               const KeychainKeyOptions& options);
// The stores a new key may go to, most preferred first.
std::vector<std::string_view> keyStoreOrder(const KeychainKeyOptions& options);

std::unique_ptr<KeychainKeyStore> makeKeyFileStore(const std::filesystem::path& database);
std::unique_ptr<KeychainKeyStore> makeSecretServiceStore(const std::filesystem::path& database);

}  // namespace quorin::platform::posix
