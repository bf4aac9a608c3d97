#include "platform/posix/files/file_io.hpp"
#include "platform/posix/keychain/keychain_key_store.hpp"

namespace quorin::platform::posix {
namespace {

// `keychain.key` beside the database, mode 0600, holding the key as hexadecimal text; a new key
// waits in `keychain.key.<key id>.pending` until the database is sealed under it. Earlier
// versions kept it in `keychain.key.pending`, which is still looked at. Each is read only as
// a regular file: through a planted link the device would seal with a key of another's choice.
class KeyFileStore final : public KeychainKeyStore {
 public:
  explicit KeyFileStore(const std::filesystem::path& database)
      : directory_(database.parent_path()), current_(directory_ / "keychain.key") {}

  std::string_view name() const override { return kKeyFileKeyStore; }

  std::optional<std::string> unavailable() override {
    if (!makeDirectories(directory_, 0700)) return "cannot create " + directory_.string();
    std::error_code error;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(current_, error)))
      return current_.string() + " is a symbolic link; no key is read through it";
    return std::nullopt;
  }

  std::optional<KeychainKey> find(const std::optional<std::string>& keyId) override {
    auto current = read(current_);
    if (!keyId || (current && ValueSealer(*current).keyId() == *keyId)) return current;
    for (const auto& path : {pendingPath(*keyId), directory_ / "keychain.key.pending"}) {
      auto pending = read(path);
      if (!pending || ValueSealer(*pending).keyId() != *keyId) continue;
      promoteFrom(path);
      return pending;
    }
    return std::nullopt;
  }

  std::optional<KeychainKey> create() override {
    KeychainKey key = randomKeychainKey();
    if (unavailable() ||
        !writeFileAtomically(pendingPath(ValueSealer(key).keyId()), keyToHex(key) + "\n", 0600))
      return std::nullopt;
    return key;
  }

  bool promote(const KeychainKey& key) override {
    return promoteFrom(pendingPath(ValueSealer(key).keyId()));
  }

 private:
  std::filesystem::path pendingPath(const std::string& keyId) const {
    return directory_ / ("keychain.key." + keyId + ".pending");
  }

  // Any other pending key is left from a rotation that never committed.
  bool promoteFrom(const std::filesystem::path& pending) {
    if (!renameDurably(pending, current_)) return false;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory_, error)) {
      auto name = entry.path().filename().string();
      if (name.starts_with("keychain.key.") && name.ends_with(".pending"))
        std::filesystem::remove(entry.path(), error);
    }
    return true;
  }

  static std::optional<KeychainKey> read(const std::filesystem::path& path) {
    auto text = readFile(path, 4096, FinalLink::refuse);
    if (!text) return std::nullopt;
    std::string_view hex(*text);
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.remove_suffix(1);
    return keyFromHex(hex);
  }

  std::filesystem::path directory_;
  std::filesystem::path current_;
};

}  // namespace

std::unique_ptr<KeychainKeyStore> makeKeyFileStore(const std::filesystem::path& database) {
  return std::make_unique<KeyFileStore>(database);
}

}  // namespace quorin::platform::posix
