#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/keychain_services.hpp"
#include "platform/posix/keychain/keychain_key_store.hpp"
#include "platform/posix/sqlite/sqlite_connection.hpp"

namespace quorin::platform::posix {

// What a shared credential's sealed password is bound to.
std::string credentialAssociatedData(std::string_view domain, std::string_view account);

// What a sealed keychain says of itself; never the key.
struct KeychainKeyState {
  std::string store;
  std::string keyId;
  std::int64_t items = 0;
};

// How the keychain database is sealed: its schema version, the key chosen for it and the store
// that keeps it, the sealer of the key the database records, and changing that key. Works on
// the keychain's connection and writes why a call failed into the keychain's problem line.
// Not safe to share between threads: the keychain calls it holding the lock that serialises
// the connection.
class KeychainSealing {
 public:
  KeychainSealing(SqliteConnection& db, std::filesystem::path path, KeychainKeyOptions keyOptions,
                  std::string& problem);

  // Brings a database just opened to the sealed kind, sealing an empty or unsealed one in
  // place, or finds the key a sealed one records.
  OSStatus createSchema();
  // Seals and opens with the key the database records, finding it in its store when another
  // connection changed it. Runs with the write lock held, as a pending key it finds is made
  // current in its store; the database is not written.
  OSStatus useRecordedKey();
  // A transaction whose writes seal with the key the database records.
  OSStatus sealingTransaction(const std::function<OSStatus()>& body);
  // Runs `read`, and once more under the recorded key when a value did not open because
  // another connection changed the key.
  OSStatus readOpened(const std::function<OSStatus()>& read);
  // The sealer of the current key; only once createSchema() succeeded.
  const ValueSealer& sealer() const { return *sealer_; }

  // The store, key and item count; none when the recorded key cannot be used.
  std::optional<KeychainKeyState> keyState();
  // Seals every value under a new key from the same store, in one transaction; until it
  // commits, the old key keeps working.
  OSStatus rotateKey();

 private:
  bool readRecordedKey(std::string& storeName, std::string& keyId);
  // Seals an empty or unsealed database under a key from the first usable store.
  OSStatus sealDatabase();
  OSStatus chooseKey(std::unique_ptr<KeychainKeyStore>& store, KeychainKey& key, bool& created);
  // Seals every item and credential again: opened with `from` (none: they are unsealed) and
  // sealed with `to`.
  OSStatus resealAll(const ValueSealer* from, const ValueSealer& to);
  OSStatus transaction(const std::function<OSStatus()>& body);
  SqliteStatement& prepare(const std::string& sql) { return db_.prepare(sql); }

  SqliteConnection& db_;
  std::filesystem::path path_;
  KeychainKeyOptions keyOptions_;
  std::string& problem_;
  std::unique_ptr<KeychainKeyStore> keyStore_;
  std::unique_ptr<ValueSealer> sealer_;
};

}  // namespace quorin::platform::posix
