#include "platform/posix/keychain/keychain_key_store.hpp"

namespace quorin::platform::posix {
namespace {

// The host keeps its key itself: this store only hands it over, and cannot make another.
class HostKeyStore final : public KeychainKeyStore {
 public:
  explicit HostKeyStore(std::optional<KeychainKey> key) : key_(key) {}

  std::string_view name() const override { return kHostKeyStore; }
  std::optional<std::string> unavailable() override {
    if (key_) return std::nullopt;
    return "the host supplied no keychain key";
  }
  std::optional<KeychainKey> find(const std::optional<std::string>& keyId) override {
    if (!key_ || (keyId && ValueSealer(*key_).keyId() != *keyId)) return std::nullopt;
    return key_;
  }
  std::optional<KeychainKey> create() override { return std::nullopt; }
  bool promote(const KeychainKey&) override { return true; }

 private:
  std::optional<KeychainKey> key_;
};

}  // namespace

std::unique_ptr<KeychainKeyStore> makeKeyStore(std::string_view name,
                                               const std::filesystem::path& database,
                                               const KeychainKeyOptions& options) {
  if (name == kHostKeyStore) return std::make_unique<HostKeyStore>(options.hostKey);
  if (name == kSecretServiceKeyStore) return makeSecretServiceStore(database);
  if (name == kKeyFileKeyStore) return makeKeyFileStore(database);
  return nullptr;
}

std::vector<std::string_view> keyStoreOrder(const KeychainKeyOptions& options) {
  if (options.store) return {*options.store};
  if (options.hostKey) return {kHostKeyStore};
  return {kSecretServiceKeyStore, kKeyFileKeyStore};
}

}  // namespace quorin::platform::posix
