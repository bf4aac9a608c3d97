#include "platform/posix/file_io.hpp"
#include "platform/posix/keychain_key_store.hpp"

namespace quorin::platform::posix {
namespace {

// `keychain.key` beside the database, mode 0600, holding the key as hexadecimal text; a new key
// waits in `keychain.key.pending` until the database is sealed under it.
class KeyFileStore final : public KeychainKeyStore {
 public:
  explicit KeyFileStore(const std::filesystem::path& database)
      : current_(database.parent_path() / "keychain.key"),
        pending_(database.parent_path() / "keychain.key.pending") {}

  std::string_view name() const override { return kKeyFileKeyStore; }

  std::optional<std::string> unavailable() override {
    if (makeDirectories(current_.parent_path(), 0700)) return std::nullopt;
    return "cannot create " + current_.parent_path().string();
  }

  std::optional<KeychainKey> find(const std::optional<std::string>& keyId) override {
    auto current = read(current_);
    if (!keyId || (current && ValueSealer(*current).keyId() == *keyId)) return current;
    auto pending = read(pending_);
    if (!pending || ValueSealer(*pending).keyId() != *keyId) return std::nullopt;
    promote(*pending);
    return pending;
  }

  std::optional<KeychainKey> create() override {
    KeychainKey key = randomKeychainKey();
    if (unavailable() || !writeFileAtomically(pending_, keyToHex(key) + "\n", 0600))
      return std::nullopt;
    return key;
  }

  bool promote(const KeychainKey&) override { return renameDurably(pending_, current_); }

 private:
  static std::optional<KeychainKey> read(const std::filesystem::path& path) {
    auto text = readFile(path, 4096);
    if (!text) return std::nullopt;
    std::string_view hex(*text);
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.remove_suffix(1);
    return keyFromHex(hex);
  }

  std::filesystem::path current_;
  std::filesystem::path pending_;
};

}  // namespace

std::unique_ptr<KeychainKeyStore> makeKeyFileStore(const std::filesystem::path& database) {
  return std::make_unique<KeyFileStore>(database);
}

}  // namespace quorin::platform::posix
