#include <libsecret/secret.h>
#include <sodium.h>

#include <cstdlib>

#include "formats/excerpt.hpp"
#include "platform/posix/keychain/keychain_key_store.hpp"

namespace quorin::platform::posix {
namespace {

// Items of this schema hold one container's keychain keys as hexadecimal text. "state" is
// "current" for the key the database is sealed with, "pending" for one being brought in.
const SecretSchema* keySchema() {
  static const SecretSchema schema = {"com.vendexa.iossdk.KeychainKey",
                                      SECRET_SCHEMA_NONE,
                                      {
                                          {"container", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                          {"key-id", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                          {"state", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                          {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                      },
                                      0,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr};
  return &schema;
}

// The attributes of an item or a search; names are the schema's, values are copies.
struct Attributes {
  GHashTable* table = g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, g_free);
  Attributes() = default;
  Attributes(const Attributes&) = delete;
  Attributes& operator=(const Attributes&) = delete;
  ~Attributes() { g_hash_table_unref(table); }
  Attributes& add(const char* name, std::string_view value) {
    g_hash_table_insert(table, const_cast<char*>(name), g_strndup(value.data(), value.size()));
    return *this;
  }
};

// In the service's own words, bounded.
std::string errorText(GError* error) {
  std::string text = error ? formats::excerpt(error->message) : "unknown error";
  if (error) g_error_free(error);
  return text;
}

class SecretServiceStore final : public KeychainKeyStore {
 public:
  explicit SecretServiceStore(const std::filesystem::path& database)
      : container_(std::filesystem::absolute(database).lexically_normal().string()) {}

  std::string_view name() const override { return kSecretServiceKeyStore; }

  // Without a session bus, libsecret would try to start one; that is no Secret Service.
  std::optional<std::string> unavailable() override {
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!bus || !*bus) return "no D-Bus session bus (DBUS_SESSION_BUS_ADDRESS is not set)";
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!service) return "the Secret Service cannot be reached: " + errorText(error);
    g_object_unref(service);
    return std::nullopt;
  }

  std::optional<KeychainKey> find(const std::optional<std::string>& keyId) override {
    Attributes query;
    query.add("container", container_);
    if (keyId) {
      query.add("key-id", *keyId);
    } else {
      query.add("state", "current");
    }
    auto found = lookup(query.table);
    if (found && keyId && !isCurrent(*keyId)) promote(*found);
    return found;
  }

  // Other pending keys stay: one may be recorded by the database and not yet current.
  std::optional<KeychainKey> create() override {
    KeychainKey key = randomKeychainKey();
    if (!store(key, "pending")) return std::nullopt;
    return key;
  }

  // Any other pending key is left from a rotation that never committed.
  bool promote(const KeychainKey& key) override {
    clear(Attributes().add("container", container_).add("state", "current"));
    if (!store(key, "current")) return false;
    clear(Attributes().add("container", container_).add("state", "pending"));
    return true;
  }

 private:
  static void clear(const Attributes& which) {
    secret_password_clearv_sync(keySchema(), which.table, nullptr, nullptr);
  }

  bool store(const KeychainKey& key, std::string_view state) {
    std::string keyId = ValueSealer(key).keyId(), hex = keyToHex(key);
    Attributes item;
    item.add("container", container_).add("key-id", keyId).add("state", state);
    std::string label = "QuorinNative keychain key for " + container_;
    gboolean stored =
        secret_password_storev_sync(keySchema(), item.table, SECRET_COLLECTION_DEFAULT,
                                    label.c_str(), hex.c_str(), nullptr, nullptr);
    sodium_memzero(hex.data(), hex.size());
    return stored;
  }

  std::optional<KeychainKey> lookup(GHashTable* query) {
    gchar* secret = secret_password_lookupv_sync(keySchema(), query, nullptr, nullptr);
    if (!secret) return std::nullopt;
    auto key = keyFromHex(secret);
    secret_password_free(secret);
    return key;
  }

  bool isCurrent(const std::string& keyId) {
    Attributes query;
    query.add("container", container_).add("key-id", keyId).add("state", "current");
    return lookup(query.table).has_value();
  }

  std::string container_;
};

}  // namespace

std::unique_ptr<KeychainKeyStore> makeSecretServiceStore(const std::filesystem::path& database) {
  return std::make_unique<SecretServiceStore>(database);
}

}  // namespace quorin::platform::posix
