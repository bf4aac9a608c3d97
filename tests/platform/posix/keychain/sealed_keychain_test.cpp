#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <future>
#include <iterator>

#include "platform/posix/files/file_io.hpp"
#include "platform/posix/keychain/sqlite_keychain.hpp"
#include "support/temporary_directory.hpp"
#include "support/unsealed_keychain.hpp"

namespace quorin::platform::posix {
namespace {

std::string bytesOf(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

formats::Dictionary item(const std::string& account) {
  return {{std::string(sec::kSecClass), std::string(sec::kSecClassGenericPassword)},
          {std::string(sec::kSecAttrService), "svc"},
          {std::string(sec::kSecAttrAccount), account}};
}

formats::Dictionary withValue(formats::Dictionary query, const std::string& value) {
  query[std::string(sec::kSecValueData)] = formats::Data(value.begin(), value.end());
  return query;
}

class SealedKeychainTest : public ::testing::Test {
 protected:
  std::filesystem::path keychains() const { return directory.path() / "Library" / "Keychains"; }
  std::filesystem::path database() const { return keychains() / "keychain.db"; }
  std::filesystem::path keyFile() const { return keychains() / "keychain.key"; }

  std::unique_ptr<SqliteKeychain> open(KeychainKeyOptions options = {.store = "key-file"}) {
    return std::make_unique<SqliteKeychain>(database(), std::move(options));
  }

  // The value of `account`, or the result code of the read.
  static std::variant<OSStatus, std::string> read(SqliteKeychain& keychain,
                                                  const std::string& account) {
    auto query = item(account);
    query[std::string(sec::kSecReturnData)] = true;
    std::optional<formats::Value> result;
    OSStatus status = keychain.secItemCopyMatching(query, &result);
    if (status != errSecSuccess) return status;
    const auto* data = result->get<formats::Data>();
    return std::string(data->begin(), data->end());
  }

  // Every file of the database: the main file, its log and a rollback journal if any.
  std::string everyDatabaseByte() const {
    return bytesOf(database()) + bytesOf(database().string() + "-wal") +
           bytesOf(database().string() + "-journal");
  }

  testing::TemporaryDirectory directory;
};

TEST_F(SealedKeychainTest, NoSetValueReachesTheDatabaseFiles) {
  auto keychain = open();
  std::vector<std::string> values;
  for (int i = 0; i < 300; ++i) values.push_back("secret-" + std::to_string(i) + "-QZX");
  for (int i = 0; i < 300; ++i)
    ASSERT_EQ(keychain->secItemAdd(withValue(item("a" + std::to_string(i)), values[i])),
              errSecSuccess);
  for (int i = 0; i < 100; ++i) {
    values.push_back("replacement-" + std::to_string(i) + "-QZX");
    ASSERT_EQ(keychain->secItemUpdate(item("a" + std::to_string(i)), withValue({}, values.back())),
              errSecSuccess);
  }
  for (int i = 100; i < 200; ++i)
    ASSERT_EQ(keychain->secItemDelete(item("a" + std::to_string(i))), errSecSuccess);
  std::promise<std::optional<Error>> written;
  keychain->secAddSharedWebCredential("example.com", "ann", "shared-password-QZX",
                                      [&](auto error) { written.set_value(error); });
  ASSERT_EQ(written.get_future().get(), std::nullopt);
  values.push_back("shared-password-QZX");

  EXPECT_EQ(read(*keychain, "a0"), (std::variant<OSStatus, std::string>("replacement-0-QZX")));
  EXPECT_EQ(read(*keychain, "a250"), (std::variant<OSStatus, std::string>("secret-250-QZX")));
  auto bytes = everyDatabaseByte();
  ASSERT_GT(bytes.size(), 0u);
  for (const auto& value : values) EXPECT_EQ(bytes.find(value), std::string::npos) << value;
  keychain.reset();
  bytes = everyDatabaseByte();
  for (const auto& value : values) EXPECT_EQ(bytes.find(value), std::string::npos) << value;
}

TEST_F(SealedKeychainTest, ACiphertextMovedToAnotherRowDoesNotOpen) {
  auto keychain = open();
  ASSERT_EQ(keychain->secItemAdd(withValue(item("one"), "first")), errSecSuccess);
  ASSERT_EQ(keychain->secItemAdd(withValue(item("two"), "second")), errSecSuccess);
  keychain.reset();

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(database().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TEMP TABLE saved AS SELECT acct, data FROM items; UPDATE items "
                         "SET data = (SELECT data FROM saved WHERE saved.acct <> items.acct)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);

  keychain = open();
  EXPECT_EQ(read(*keychain, "one"), (std::variant<OSStatus, std::string>(errSecDecode)));
  EXPECT_EQ(read(*keychain, "two"), (std::variant<OSStatus, std::string>(errSecDecode)));
  EXPECT_EQ(keychain->secItemDelete(item("one")), errSecSuccess) << "a bad value can be removed";
}

TEST_F(SealedKeychainTest, ADamagedValueHidesNothingElseAndCanBeReplaced) {
  auto keychain = open();
  ASSERT_EQ(keychain->secItemAdd(withValue(item("good"), "kept")), errSecSuccess);
  ASSERT_EQ(keychain->secItemAdd(withValue(item("bad"), "lost")), errSecSuccess);
  keychain.reset();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(database().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "UPDATE items SET data = x'00' WHERE acct = 'bad'", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  sqlite3_close(db);

  keychain = open();
  formats::Dictionary all = {
      {std::string(sec::kSecClass), std::string(sec::kSecClassGenericPassword)},
      {std::string(sec::kSecMatchLimit), kSecMatchLimitAll()},
      {std::string(sec::kSecReturnAttributes), true}};
  std::optional<formats::Value> result;
  ASSERT_EQ(keychain->secItemCopyMatching(all, &result), errSecSuccess);
  EXPECT_EQ(result->get<formats::Array>()->size(), 2u);
  all[std::string(sec::kSecReturnData)] = true;
  ASSERT_EQ(keychain->secItemCopyMatching(all, &result), errSecSuccess);
  const auto& listed = *result->get<formats::Array>();
  ASSERT_EQ(listed.size(), 2u);
  const auto& good = *listed[0].get<formats::Dictionary>();
  const auto& bad = *listed[1].get<formats::Dictionary>();
  EXPECT_EQ(good.at(std::string(sec::kSecValueData)),
            formats::Value(formats::Data{'k', 'e', 'p', 't'}));
  EXPECT_EQ(bad.at(std::string(sec::kSecAttrAccount)), formats::Value("bad"));
  EXPECT_FALSE(bad.count(std::string(sec::kSecValueData))) << "no value stands in for it";
  EXPECT_EQ(read(*keychain, "bad"), (std::variant<OSStatus, std::string>(errSecDecode)));

  EXPECT_EQ(keychain->secItemUpdate(item("bad"), withValue({}, "new")), errSecSuccess);
  EXPECT_EQ(read(*keychain, "bad"), (std::variant<OSStatus, std::string>("new")));
  EXPECT_EQ(read(*keychain, "good"), (std::variant<OSStatus, std::string>("kept")));
}

TEST_F(SealedKeychainTest, AnOpenThatFailedForAPassingReasonIsTriedAgain) {
  std::filesystem::create_directories(keychains().parent_path());
  std::ofstream(keychains()) << "a file where the directory belongs";
  auto keychain = open();
  EXPECT_NE(keychain->secItemAdd(withValue(item("a"), "v")), errSecSuccess);
  EXPECT_TRUE(keychain->problem());

  std::filesystem::remove(keychains());
  EXPECT_EQ(keychain->problem(), std::nullopt);
  EXPECT_EQ(keychain->secItemAdd(withValue(item("a"), "v")), errSecSuccess);
  EXPECT_EQ(read(*keychain, "a"), (std::variant<OSStatus, std::string>("v")));
}

TEST_F(SealedKeychainTest, AMissingOrWrongKeyFailsAndLeavesTheDatabaseAlone) {
  auto keychain = open();
  ASSERT_EQ(keychain->secItemAdd(withValue(item("k"), "v")), errSecSuccess);
  keychain.reset();
  auto before = bytesOf(database());
  auto key = bytesOf(keyFile());

  std::filesystem::remove(keyFile());
  keychain = open();
  EXPECT_EQ(read(*keychain, "k"), (std::variant<OSStatus, std::string>(errSecAuthFailed)));
  EXPECT_EQ(keychain->secItemAdd(withValue(item("new"), "v")), errSecAuthFailed);
  EXPECT_NE(keychain->problem().value_or("").find("has no such key"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(keyFile())) << "no key is made for a sealed database";
  keychain.reset();
  EXPECT_EQ(bytesOf(database()), before);

  ASSERT_TRUE(writeFileAtomically(keyFile(), keyToHex(randomKeychainKey()) + "\n", 0600));
  keychain = open();
  EXPECT_EQ(read(*keychain, "k"), (std::variant<OSStatus, std::string>(errSecAuthFailed)));
  keychain = open({.hostKey = randomKeychainKey()});
  EXPECT_EQ(read(*keychain, "k"), (std::variant<OSStatus, std::string>(errSecAuthFailed)))
      << "a host key does not open a database sealed with the key file";
  keychain.reset();
  EXPECT_EQ(bytesOf(database()), before);

  ASSERT_TRUE(writeFileAtomically(keyFile(), key, 0600));
  keychain = open();
  EXPECT_EQ(read(*keychain, "k"), (std::variant<OSStatus, std::string>("v")));
}

// A link planted where the key file belongs would make the device seal with a key of its
// planter's choice: it is never read, for a new database or a sealed one.
TEST_F(SealedKeychainTest, AKeyFileThatIsASymbolicLinkIsNeverRead) {
  testing::TemporaryDirectory elsewhere;
  auto planted = elsewhere.path() / "planted.key";
  ASSERT_TRUE(writeFileAtomically(planted, keyToHex(randomKeychainKey()) + "\n", 0600));
  std::filesystem::create_directories(keychains());
  std::filesystem::create_symlink(planted, keyFile());
  auto keychain = open();
  EXPECT_EQ(keychain->secItemAdd(withValue(item("k"), "v")), errSecNotAvailable);
  EXPECT_NE(keychain->problem().value_or("").find("keychain.key is a symbolic link"),
            std::string::npos)
      << keychain->problem().value_or("");
  keychain.reset();

  std::filesystem::remove(keyFile());
  keychain = open();
  ASSERT_EQ(keychain->secItemAdd(withValue(item("k"), "v")), errSecSuccess);
  keychain.reset();
  std::filesystem::rename(keyFile(), planted);
  std::filesystem::create_symlink(planted, keyFile());
  keychain = open();
  EXPECT_EQ(read(*keychain, "k"), (std::variant<OSStatus, std::string>(errSecAuthFailed)));
  EXPECT_NE(keychain->problem().value_or("").find("keychain.key is a symbolic link"),
            std::string::npos)
      << keychain->problem().value_or("");
}

TEST_F(SealedKeychainTest, AHostKeyOpensOnlyItsOwnDatabase) {
  auto hostKey = randomKeychainKey();
  auto keychain = open({.hostKey = hostKey});
  ASSERT_EQ(keychain->secItemAdd(withValue(item("k"), "v")), errSecSuccess);
  EXPECT_EQ(keychain->keyState()->store, "host");
  EXPECT_EQ(keychain->rotateKey(), errSecUnimplemented);
  keychain.reset();
  EXPECT_FALSE(std::filesystem::exists(keyFile()));

  keychain = open({.hostKey = randomKeychainKey()});
  EXPECT_EQ(read(*keychain, "k"), (std::variant<OSStatus, std::string>(errSecAuthFailed)));
  keychain = open();
  EXPECT_EQ(read(*keychain, "k"), (std::variant<OSStatus, std::string>(errSecAuthFailed)));
  keychain = open({.hostKey = hostKey});
  EXPECT_EQ(read(*keychain, "k"), (std::variant<OSStatus, std::string>("v")));
}

TEST_F(SealedKeychainTest, WithoutASessionBusTheKeyFileIsChosen) {
  const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  ASSERT_TRUE(!bus || !*bus) << "the tests run without a session bus";
  auto keychain = open({});
  ASSERT_EQ(keychain->secItemAdd(withValue(item("k"), "v")), errSecSuccess);
  EXPECT_EQ(keychain->keyState()->store, "key-file");
  EXPECT_EQ(std::filesystem::status(keyFile()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  keychain = open({.store = "secret-service"});
  EXPECT_EQ(read(*keychain, "k"), (std::variant<OSStatus, std::string>(errSecAuthFailed)))
      << "a store that was asked for but is not the database's";
}

TEST_F(SealedKeychainTest, AnUnsealedDatabaseIsSealedInPlace) {
  testing::writeUnsealedKeychain(database(), {{"k1", "plain-one-QZX"}, {"k2", "plain-two-QZX"}},
                                 {{"example.com", "ann", "plain-shared-QZX"}});
  auto keychain = open();
  EXPECT_EQ(read(*keychain, "k1"), (std::variant<OSStatus, std::string>("plain-one-QZX")));
  EXPECT_EQ(read(*keychain, "k2"), (std::variant<OSStatus, std::string>("plain-two-QZX")));
  std::promise<std::optional<formats::Array>> credentials;
  keychain->secRequestSharedWebCredential("example.com", "ann",
                                          [&](auto found, auto) { credentials.set_value(found); });
  auto found = credentials.get_future().get();
  ASSERT_TRUE(found && found->size() == 1);
  EXPECT_EQ(*(*found)[0]
                 .get<formats::Dictionary>()
                 ->at(std::string(sec::kSecSharedPassword))
                 .get<std::string>(),
            "plain-shared-QZX");
  EXPECT_EQ(keychain->keyState()->items, 2);
  auto bytes = everyDatabaseByte();
  for (auto value : {"plain-one-QZX", "plain-two-QZX", "plain-shared-QZX"})
    EXPECT_EQ(bytes.find(value), std::string::npos) << value;
}

TEST_F(SealedKeychainTest, RotationResealsEverythingAndACrashLeavesAWorkingKey) {
  auto keychain = open();
  for (int i = 0; i < 20; ++i)
    ASSERT_EQ(
        keychain->secItemAdd(withValue(item("k" + std::to_string(i)), "v" + std::to_string(i))),
        errSecSuccess);
  auto oldId = keychain->keyState()->keyId;
  auto oldKey = bytesOf(keyFile());

  // Cut off before the commit: a pending key is left, and the old one still opens the database.
  ASSERT_TRUE(makeKeyFileStore(database())->create());
  keychain = open();
  EXPECT_EQ(read(*keychain, "k3"), (std::variant<OSStatus, std::string>("v3")));
  EXPECT_EQ(keychain->keyState()->keyId, oldId);

  ASSERT_EQ(keychain->rotateKey(), errSecSuccess);
  auto newId = keychain->keyState()->keyId;
  EXPECT_NE(newId, oldId);
  EXPECT_EQ(read(*keychain, "k19"), (std::variant<OSStatus, std::string>("v19")));
  EXPECT_NE(bytesOf(keyFile()), oldKey);
  EXPECT_FALSE(std::filesystem::exists(keychains() / "keychain.key.pending"));
  keychain.reset();

  // Cut off after the commit, before the new key replaced the old: the new key is found.
  std::filesystem::rename(keyFile(), keychains() / "keychain.key.pending");
  ASSERT_TRUE(writeFileAtomically(keyFile(), oldKey, 0600));
  keychain = open();
  EXPECT_EQ(read(*keychain, "k0"), (std::variant<OSStatus, std::string>("v0")));
  EXPECT_EQ(keychain->keyState()->keyId, newId);
  EXPECT_FALSE(std::filesystem::exists(keychains() / "keychain.key.pending"));
  EXPECT_NE(bytesOf(keyFile()), oldKey);
}

TEST_F(SealedKeychainTest, AConnectionOpenBeforeAnotherRotatesFollowsTheNewKey) {
  auto host = open();
  ASSERT_EQ(host->secItemAdd(withValue(item("early"), "first")), errSecSuccess);
  auto other = open();
  ASSERT_EQ(other->rotateKey(), errSecSuccess);
  ASSERT_EQ(other->secItemAdd(withValue(item("rotator"), "from the rotator")), errSecSuccess);
  auto newId = other->keyState()->keyId;
  other.reset();

  EXPECT_EQ(read(*host, "rotator"), (std::variant<OSStatus, std::string>("from the rotator")));
  ASSERT_EQ(host->secItemAdd(withValue(item("late"), "written after")), errSecSuccess);
  ASSERT_EQ(host->secItemUpdate(item("early"), withValue({}, "changed")), errSecSuccess);
  EXPECT_EQ(host->keyState()->keyId, newId);

  auto fresh = open();
  EXPECT_EQ(read(*fresh, "late"), (std::variant<OSStatus, std::string>("written after")));
  EXPECT_EQ(read(*fresh, "early"), (std::variant<OSStatus, std::string>("changed")));
}

TEST_F(SealedKeychainTest, EachPendingKeyBelongsToTheRotationThatMadeIt) {
  auto store = makeKeyFileStore(database());
  auto first = store->create();
  auto second = store->create();
  ASSERT_TRUE(first && second);
  auto firstId = ValueSealer(*first).keyId();
  EXPECT_EQ(store->find(firstId), first) << "another rotation's key took its place";
  EXPECT_EQ(store->find(std::nullopt), first);
  EXPECT_EQ(store->find(ValueSealer(*second).keyId()), std::nullopt)
      << "the key of a rotation that never committed is forgotten";
}

}  // namespace
}  // namespace quorin::platform::posix
