// One suite, run against the SQLite keychain and the in-memory one.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/posix/keychain/sqlite_keychain.hpp"
#include "support/in_memory_keychain.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform {
namespace {

formats::Dictionary genericItem(std::string account, std::string value, bool sync = false) {
  return {{std::string(sec::kSecClass), std::string(sec::kSecClassGenericPassword)},
          {std::string(sec::kSecAttrService), "svc"},
          {std::string(sec::kSecAttrAccount), std::move(account)},
          {std::string(sec::kSecAttrSynchronizable), sync},
          {std::string(sec::kSecValueData), formats::Data(value.begin(), value.end())}};
}

formats::Dictionary query(
    std::initializer_list<std::pair<std::string_view, formats::Value>> entries) {
  formats::Dictionary q{{std::string(sec::kSecClass), std::string(sec::kSecClassGenericPassword)}};
  for (const auto& [key, value] : entries) q.insert_or_assign(std::string(key), value);
  return q;
}

formats::Data bytes(std::string_view text) {
  return formats::Data(text.begin(), text.end());
}

struct SqliteBackend {
  testing::TemporaryDirectory directory;
  posix::SqliteKeychain services{directory.path() / "Library" / "Keychains" / "keychain.db"};
};
struct MemoryBackend {
  testing::InMemoryKeychain services;
};

template <typename Backend>
class KeychainServicesContract : public ::testing::Test {
 protected:
  KeychainServices& services() { return backend.services; }
  Backend backend;
};

using Backends = ::testing::Types<SqliteBackend, MemoryBackend>;
TYPED_TEST_SUITE(KeychainServicesContract, Backends);

TYPED_TEST(KeychainServicesContract, AddDuplicateUpdateDelete) {
  auto& kc = this->services();
  auto item = query({{sec::kSecAttrService, "svc"}, {sec::kSecAttrAccount, "k"}});
  EXPECT_EQ(kc.secItemCopyMatching(item, nullptr), errSecItemNotFound);
  ASSERT_EQ(kc.secItemAdd(genericItem("k", "v1")), errSecSuccess);
  EXPECT_EQ(kc.secItemAdd(genericItem("k", "other")), errSecDuplicateItem);
  EXPECT_EQ(kc.secItemAdd(genericItem("k", "synced", true)), errSecSuccess)
      << "the sync flag is part of an item's identity";

  // A query that names no flag matches items of either; one that names a flag, only those.
  auto all = item;
  all[std::string(sec::kSecMatchLimit)] = kSecMatchLimitAll();
  all[std::string(sec::kSecReturnData)] = true;
  std::optional<formats::Value> result;
  ASSERT_EQ(kc.secItemCopyMatching(all, &result), errSecSuccess);
  EXPECT_EQ(*result, formats::Value(formats::Array{formats::Value(bytes("v1")),
                                                   formats::Value(bytes("synced"))}));
  auto unsynced = item;
  unsynced[std::string(sec::kSecAttrSynchronizable)] = false;
  ASSERT_EQ(kc.secItemUpdate(unsynced, {{std::string(sec::kSecValueData), bytes("v2")}}),
            errSecSuccess);
  ASSERT_EQ(kc.secItemCopyMatching(all, &result), errSecSuccess);
  EXPECT_EQ(*result, formats::Value(formats::Array{formats::Value(bytes("v2")),
                                                   formats::Value(bytes("synced"))}));

  auto missing = query({{sec::kSecAttrAccount, "nobody"}});
  EXPECT_EQ(kc.secItemUpdate(missing, {{std::string(sec::kSecValueData), bytes("x")}}),
            errSecItemNotFound);
  EXPECT_EQ(kc.secItemDelete(missing), errSecItemNotFound);
  EXPECT_EQ(kc.secItemDelete(unsynced), errSecSuccess);
  EXPECT_EQ(kc.secItemCopyMatching(unsynced, nullptr), errSecItemNotFound);
  EXPECT_EQ(kc.secItemCopyMatching(item, nullptr), errSecSuccess) << "the synchronised one";
  EXPECT_EQ(kc.secItemDelete(item), errSecSuccess);
  EXPECT_EQ(kc.secItemCopyMatching(item, nullptr), errSecItemNotFound);
}

TYPED_TEST(KeychainServicesContract, SynchronizableAnyAndMatchLimitAllInInsertionOrder) {
  auto& kc = this->services();
  ASSERT_EQ(kc.secItemAdd(genericItem("b", "1", true)), errSecSuccess);
  ASSERT_EQ(kc.secItemAdd(genericItem("a", "2")), errSecSuccess);
  ASSERT_EQ(kc.secItemAdd(genericItem("c", "3")), errSecSuccess);
  ASSERT_EQ(
      kc.secItemUpdate(query({{sec::kSecAttrAccount, "b"}, {sec::kSecAttrSynchronizable, true}}),
                       {{std::string(sec::kSecValueData), bytes("1b")}}),
      errSecSuccess);

  std::optional<formats::Value> result;
  ASSERT_EQ(
      kc.secItemCopyMatching(query({{sec::kSecAttrSynchronizable, kSecAttrSynchronizableAny()},
                                    {sec::kSecMatchLimit, kSecMatchLimitAll()},
                                    {sec::kSecReturnAttributes, true},
                                    {sec::kSecReturnData, true}}),
                             &result),
      errSecSuccess);
  const auto& list = *result->get<formats::Array>();
  ASSERT_EQ(list.size(), 3u);
  std::vector<std::string> accounts;
  for (const auto& entry : list)
    accounts.push_back(*entry.find(sec::kSecAttrAccount)->get<std::string>());
  EXPECT_EQ(accounts, (std::vector<std::string>{"b", "a", "c"})) << "updates keep their place";
  EXPECT_EQ(*list[0].find(sec::kSecValueData), formats::Value(bytes("1b")));
  EXPECT_EQ(*list[0].find(sec::kSecAttrSynchronizable), formats::Value(true));
  EXPECT_TRUE(list[0].find(sec::kSecAttrCreationDate)->is<formats::Date>());
  EXPECT_EQ(*list[1].find(sec::kSecAttrAccessible),
            formats::Value(std::string(sec::kSecAttrAccessibleWhenUnlocked)));

  ASSERT_EQ(kc.secItemDelete(query({{sec::kSecAttrSynchronizable, kSecAttrSynchronizableAny()},
                                    {sec::kSecAttrService, "svc"}})),
            errSecSuccess);
  EXPECT_EQ(kc.secItemCopyMatching(
                query({{sec::kSecAttrSynchronizable, kSecAttrSynchronizableAny()}}), nullptr),
            errSecItemNotFound);
}

TYPED_TEST(KeychainServicesContract, InternetPasswordsWithAndWithoutPort) {
  auto& kc = this->services();
  auto internet = [](std::optional<std::int64_t> port) {
    formats::Dictionary d{
        {std::string(sec::kSecClass), std::string(sec::kSecClassInternetPassword)},
        {std::string(sec::kSecAttrServer), "example.com"},
        {std::string(sec::kSecAttrProtocol), std::string(sec::kSecAttrProtocolHTTPS)},
        {std::string(sec::kSecAttrAuthenticationType),
         std::string(sec::kSecAttrAuthenticationTypeDefault)},
        {std::string(sec::kSecAttrAccount), "me"}};
    if (port) d[std::string(sec::kSecAttrPort)] = *port;
    return d;
  };
  auto withValue = [](formats::Dictionary d, std::string_view value) {
    d[std::string(sec::kSecValueData)] = bytes(value);
    return d;
  };
  ASSERT_EQ(kc.secItemAdd(withValue(internet(std::nullopt), "plain")), errSecSuccess);
  ASSERT_EQ(kc.secItemAdd(withValue(internet(8443), "port")), errSecSuccess);
  EXPECT_EQ(kc.secItemAdd(withValue(internet(8443), "again")), errSecDuplicateItem);

  auto read = [&](formats::Dictionary q) {
    q[std::string(sec::kSecReturnData)] = true;
    q[std::string(sec::kSecMatchLimit)] = kSecMatchLimitAll();
    std::optional<formats::Value> result;
    EXPECT_EQ(kc.secItemCopyMatching(q, &result), errSecSuccess);
    return result ? result->get<formats::Array>()->size() : 0u;
  };
  EXPECT_EQ(read(internet(8443)), 1u);
  EXPECT_EQ(read(internet(std::nullopt)), 2u) << "a query without a port matches any port";
  EXPECT_EQ(kc.secItemCopyMatching(internet(21), nullptr), errSecItemNotFound);
  auto generic = query({{sec::kSecAttrAccount, "me"}});
  EXPECT_EQ(kc.secItemCopyMatching(generic, nullptr), errSecItemNotFound) << "classes are apart";
}

TYPED_TEST(KeychainServicesContract, AccessControlledItemsRefuseQueriesWithoutUI) {
  auto& kc = this->services();
  std::optional<Error> error;
  auto control =
      kc.secAccessControlCreateWithFlags(sec::kSecAttrAccessibleWhenUnlocked, 0x1, &error);
  ASSERT_TRUE(control);
  auto item = genericItem("secret", "s");
  item.erase(std::string(sec::kSecAttrSynchronizable));
  item[std::string(sec::kSecAttrAccessControl)] = formats::ObjectRef(control);
  ASSERT_EQ(kc.secItemAdd(item), errSecSuccess);

  auto probe =
      query({{sec::kSecAttrAccount, "secret"},
             {sec::kSecUseAuthenticationUI, std::string(sec::kSecUseAuthenticationUIFail)}});
  EXPECT_EQ(kc.secItemCopyMatching(probe, nullptr), errSecInteractionNotAllowed);
  auto attributes = query({{sec::kSecAttrAccount, "secret"}, {sec::kSecReturnAttributes, true}});
  std::optional<formats::Value> result;
  ASSERT_EQ(kc.secItemCopyMatching(attributes, &result), errSecSuccess);
  const auto* stored = result->find(sec::kSecAttrAccessControl)->get<formats::ObjectRef>();
  auto back = std::dynamic_pointer_cast<const AccessControl>(*stored);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->flags, 0x1u);

  for (std::uint64_t flags : {std::uint64_t{0x4}, std::uint64_t{0x4000 | 0x8000}}) {
    error.reset();
    EXPECT_FALSE(
        kc.secAccessControlCreateWithFlags(sec::kSecAttrAccessibleWhenUnlocked, flags, &error));
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->localizedDescription().empty());
  }
  EXPECT_FALSE(kc.secAccessControlCreateWithFlags("bogus", 0x1, &error));
}

TYPED_TEST(KeychainServicesContract, ExtraAttributesAreStoredAndMatched) {
  auto& kc = this->services();
  auto item = genericItem("k", "v");
  item[std::string(sec::kSecAttrLabel)] = "label";
  item[std::string(sec::kSecAttrGeneric)] = bytes("g");
  item[std::string(sec::kSecAttrIsInvisible)] = true;
  ASSERT_EQ(kc.secItemAdd(item), errSecSuccess);
  EXPECT_EQ(kc.secItemCopyMatching(query({{sec::kSecAttrGeneric, bytes("g")}}), nullptr),
            errSecSuccess);
  EXPECT_EQ(kc.secItemCopyMatching(query({{sec::kSecAttrGeneric, bytes("h")}}), nullptr),
            errSecItemNotFound);
  EXPECT_EQ(kc.secItemCopyMatching(query({{sec::kSecAttrLabel, "label"}}), nullptr), errSecSuccess);
  EXPECT_EQ(kc.secItemAdd({{std::string(sec::kSecClass), "nonsense"}}), errSecParam);
  EXPECT_EQ(kc.secItemCopyMatching({}, nullptr), errSecParam);
}

TYPED_TEST(KeychainServicesContract, AnAccessGroupSelectsOnlyItsOwnItems) {
  auto& kc = this->services();
  auto grouped = genericItem("k", "in group");
  grouped[std::string(sec::kSecAttrAccessGroup)] = "group";
  ASSERT_EQ(kc.secItemAdd(grouped), errSecSuccess);
  ASSERT_EQ(kc.secItemAdd(genericItem("k", "no group")), errSecSuccess)
      << "the access group is part of an item's identity";
  std::optional<formats::Value> result;
  ASSERT_EQ(kc.secItemCopyMatching(
                query({{sec::kSecAttrAccessGroup, "group"}, {sec::kSecReturnData, true}}), &result),
            errSecSuccess);
  EXPECT_EQ(*result, formats::Value(bytes("in group")));
  EXPECT_EQ(kc.secItemCopyMatching(query({{sec::kSecAttrAccessGroup, "other"}}), nullptr),
            errSecItemNotFound);
  ASSERT_EQ(kc.secItemDelete(query({{sec::kSecAttrAccessGroup, "group"}})), errSecSuccess);
  ASSERT_EQ(kc.secItemCopyMatching(query({{sec::kSecAttrAccount, "k"}, {sec::kSecReturnData, true}}),
                                   &result),
            errSecSuccess);
  EXPECT_EQ(*result, formats::Value(bytes("no group")));
}

TYPED_TEST(KeychainServicesContract, TheResultTakesTheShapeTheQueryAsksFor) {
  auto& kc = this->services();
  ASSERT_EQ(kc.secItemAdd(genericItem("a", "1")), errSecSuccess);
  ASSERT_EQ(kc.secItemAdd(genericItem("b", "2")), errSecSuccess);
  std::optional<formats::Value> result;
  ASSERT_EQ(kc.secItemCopyMatching(query({{sec::kSecAttrAccount, "b"},
                                          {sec::kSecMatchLimit, kSecMatchLimitOne()},
                                          {sec::kSecReturnData, true}}),
                                   &result),
            errSecSuccess);
  EXPECT_EQ(*result, formats::Value(bytes("2"))) << "only the value asked for: its bytes";

  ASSERT_EQ(kc.secItemCopyMatching(query({{sec::kSecAttrAccount, "b"},
                                          {sec::kSecReturnData, true},
                                          {sec::kSecReturnAttributes, true}}),
                                   &result),
            errSecSuccess);
  ASSERT_TRUE(result->is<formats::Dictionary>());
  EXPECT_EQ(*result->find(sec::kSecValueData), formats::Value(bytes("2")));
  EXPECT_EQ(*result->find(sec::kSecAttrAccount), formats::Value("b"));
  EXPECT_EQ(*result->find(sec::kSecAttrService), formats::Value("svc"));

  ASSERT_EQ(kc.secItemCopyMatching(query({{sec::kSecMatchLimit, kSecMatchLimitAll()},
                                          {sec::kSecReturnAttributes, true}}),
                                   &result),
            errSecSuccess);
  ASSERT_EQ(result->get<formats::Array>()->size(), 2u);
  EXPECT_EQ(result->get<formats::Array>()->front().find(sec::kSecValueData), nullptr)
      << "attributes alone carry no value";
  EXPECT_EQ(kc.secItemCopyMatching(query({{sec::kSecMatchLimit, "lots"}}), nullptr), errSecParam);
}

TEST(SqliteKeychainTest, PersistsAcrossOpensWithPrivateFiles) {
  testing::TemporaryDirectory directory;
  auto path = directory.path() / "Keychains" / "keychain.db";
  {
    posix::SqliteKeychain kc(path);
    ASSERT_EQ(kc.secItemAdd(genericItem("k", "kept")), errSecSuccess);
  }
  posix::SqliteKeychain again(path);
  std::optional<formats::Value> result;
  ASSERT_EQ(again.secItemCopyMatching(
                query({{sec::kSecAttrAccount, "k"}, {sec::kSecReturnData, true}}), &result),
            errSecSuccess);
  EXPECT_EQ(*result, formats::Value(bytes("kept")));
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(std::filesystem::status(path.parent_path()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
}

TEST(SqliteKeychainTest, ANonDatabaseFileFailsEveryCallAndIsLeftUntouched) {
  testing::TemporaryDirectory directory;
  auto path = directory.path() / "keychain.db";
  const std::string junk(8192, 'x');
  std::ofstream(path) << junk;
  posix::SqliteKeychain kc(path);
  EXPECT_EQ(kc.secItemAdd(genericItem("k", "v")), errSecInvalidKeychain);
  EXPECT_EQ(kc.secItemCopyMatching(query({{sec::kSecAttrAccount, "k"}}), nullptr),
            errSecInvalidKeychain);
  EXPECT_TRUE(kc.problem());
  std::ifstream in(path);
  std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(contents, junk);
}

}  // namespace
}  // namespace quorin::platform
