// Runs against a real Secret Service on the session bus (scripts/with-secret-service.sh).
// Without a bus the tests are skipped, unless QRN_REQUIRE_SECRET_SERVICE says they must run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/posix/keychain/sqlite_keychain.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

std::string bytesOf(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const formats::Dictionary kItem{
    {std::string(sec::kSecClass), std::string(sec::kSecClassGenericPassword)},
    {std::string(sec::kSecAttrService), "svc"},
    {std::string(sec::kSecAttrAccount), "k"}};

std::optional<std::string> read(SqliteKeychain& keychain) {
  auto query = kItem;
  query[std::string(sec::kSecReturnData)] = true;
  std::optional<formats::Value> result;
  if (keychain.secItemCopyMatching(query, &result) != errSecSuccess) return std::nullopt;
  const auto* data = result->get<formats::Data>();
  return std::string(data->begin(), data->end());
}

// Unsets the session bus for as long as it lives.
class WithoutSessionBus {
 public:
  WithoutSessionBus() : saved_(std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  }
  ~WithoutSessionBus() { ::setenv("DBUS_SESSION_BUS_ADDRESS", saved_.c_str(), 1); }

 private:
  std::string saved_;
};

class SecretServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (bus && *bus) return;
    if (std::getenv("QRN_REQUIRE_SECRET_SERVICE")) FAIL() << "no session bus to test against";
    GTEST_SKIP() << "no session bus; run under scripts/with-secret-service.sh";
  }
  std::filesystem::path database() const {
    return directory.path() / "Library" / "Keychains" / "keychain.db";
  }
  testing::TemporaryDirectory directory;
};

TEST_F(SecretServiceTest, TheKeyIsKeptInTheServiceAndFoundAgain) {
  auto keychain = std::make_unique<SqliteKeychain>(database());
  auto value = kItem;
  value[std::string(sec::kSecValueData)] = formats::Data{'v', '1'};
  ASSERT_EQ(keychain->secItemAdd(value), errSecSuccess);
  auto state = keychain->keyState();
  ASSERT_TRUE(state);
  EXPECT_EQ(state->store, "secret-service");
  EXPECT_FALSE(std::filesystem::exists(database().parent_path() / "keychain.key"));

  keychain = std::make_unique<SqliteKeychain>(database());
  EXPECT_EQ(read(*keychain), "v1");
  ASSERT_EQ(keychain->rotateKey(), errSecSuccess);
  EXPECT_NE(keychain->keyState()->keyId, state->keyId);
  keychain = std::make_unique<SqliteKeychain>(database());
  EXPECT_EQ(read(*keychain), "v1") << "the rotated key is the one found";
}

TEST_F(SecretServiceTest, AnUnreachableServiceIsAClearErrorAndChangesNothing) {
  auto keychain = std::make_unique<SqliteKeychain>(database());
  auto value = kItem;
  value[std::string(sec::kSecValueData)] = formats::Data{'v'};
  ASSERT_EQ(keychain->secItemAdd(value), errSecSuccess);
  keychain.reset();
  auto before = bytesOf(database());
  {
    WithoutSessionBus noBus;
    keychain = std::make_unique<SqliteKeychain>(database());
    EXPECT_EQ(keychain->secItemCopyMatching(kItem, nullptr), errSecAuthFailed);
    EXPECT_NE(keychain->problem().value_or("").find("no D-Bus session bus"), std::string::npos);
    keychain.reset();
    EXPECT_EQ(bytesOf(database()), before);

    testing::TemporaryDirectory other;
    SqliteKeychain fresh(other.path() / "keychain.db", {.store = "secret-service"});
    EXPECT_EQ(fresh.secItemAdd(value), errSecNotAvailable)
        << "a store that was asked for is not swapped for another";
  }
  keychain = std::make_unique<SqliteKeychain>(database());
  EXPECT_EQ(read(*keychain), "v");
}

}  // namespace
}  // namespace quorin::platform::posix
