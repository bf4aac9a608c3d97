#include "keychain/keychain.hpp"

#include <gtest/gtest.h>

#include "support/diagnostics_capture.hpp"
#include "support/in_memory_platform.hpp"

namespace quorin::keychain {
namespace {

namespace sec = platform::sec;
using formats::Value;

class KeychainTest : public ::testing::Test {
 protected:
  // The diagnostic lines written while `body` runs.
  template <typename Body>
  std::string output(Body body) {
    testing::DiagnosticsCapture diagnostics;
    body();
    return diagnostics.text();
  }

  std::shared_ptr<testing::InMemoryPlatform> platform =
      std::make_shared<testing::InMemoryPlatform>();
  Keychain::Ptr keychain = Keychain::withService(platform, "com.example");
};

TEST_F(KeychainTest, DefaultsAndBuildersMakeNewKeychains) {
  EXPECT_EQ(keychain->accessibility(), Accessibility::afterFirstUnlock);
  EXPECT_FALSE(keychain->synchronizable());
  EXPECT_FALSE(keychain->authenticationPolicy());
  EXPECT_FALSE(keychain->label());
  EXPECT_TRUE(keychain->options().attributes.empty());

  auto labelled = keychain->label("a");
  EXPECT_EQ(labelled->label(), "a");
  EXPECT_FALSE(keychain->label()) << "the receiver does not change";

  auto extra =
      keychain->attributes({{"x", Value(1)}})->attributes({{"x", Value(2)}, {"y", Value(3)}});
  EXPECT_EQ(extra->options().attributes, (formats::Dictionary{{"x", Value(2)}, {"y", Value(3)}}));

  auto policy =
      keychain->accessibility(Accessibility::whenUnlocked, AuthenticationPolicy::userPresence)
          ->accessibility(Accessibility::always);
  EXPECT_EQ(policy->authenticationPolicy(), AuthenticationPolicy::userPresence);
  EXPECT_EQ(policy->accessibility(), Accessibility::always);

  auto bundle = Keychain::make(platform);
  EXPECT_EQ(bundle->service(), "");
  EXPECT_EQ(bundle->options()
                .baseQuery(keychain::IgnoringAttributeSynchronizable::no)
                .at(std::string(sec::kSecAttrService)),
            Value(""));
  platform->fakeBundle.info["CFBundleIdentifier"] = Value("com.app");
  EXPECT_EQ(Keychain::make(platform)->service(), "com.app");
  EXPECT_THROW(keychain->server(), std::logic_error);
}

TEST_F(KeychainTest, BaseQueryAndItemAttributes) {
  auto synced = keychain->synchronizable(true);
  EXPECT_EQ(synced->options()
                .baseQuery(keychain::IgnoringAttributeSynchronizable::no)
                .at(std::string(sec::kSecAttrSynchronizable)),
            Value(true));
  EXPECT_EQ(synced->options()
                .baseQuery(keychain::IgnoringAttributeSynchronizable::yes)
                .at(std::string(sec::kSecAttrSynchronizable)),
            Value(platform::kSecAttrSynchronizableAny()));

  auto [update, noError] =
      keychain->options().itemAttributes(std::nullopt, {1}, platform->keychain);
  EXPECT_FALSE(noError);
  EXPECT_EQ(update.size(), 3u);
  EXPECT_EQ(update.at(std::string(sec::kSecAttrAccessible)), Value("ck"));
  auto [add, alsoNoError] = keychain->options().itemAttributes("k", {1}, platform->keychain);
  EXPECT_EQ(add.at(std::string(sec::kSecAttrAccount)), Value("k"));
  EXPECT_EQ(add.at(std::string(sec::kSecAttrSynchronizable)), Value(false))
      << "never the any constant";

  auto web = Keychain::withServer(platform, "https://user@example.com/path", ProtocolType::https);
  auto query = web->options().baseQuery(keychain::IgnoringAttributeSynchronizable::yes);
  EXPECT_EQ(query.at(std::string(sec::kSecAttrServer)), Value("example.com"));
  EXPECT_EQ(query.count(std::string(sec::kSecAttrPort)), 0u);
  EXPECT_EQ(query.count(std::string(sec::kSecAttrPath)), 0u);
  auto ported = Keychain::withServer(platform, "https://example.com:8443", ProtocolType::https);
  EXPECT_EQ(ported->options()
                .baseQuery(keychain::IgnoringAttributeSynchronizable::yes)
                .at(std::string(sec::kSecAttrPort)),
            Value(8443));
  EXPECT_THROW(Keychain::withServer(platform, "not a url", ProtocolType::https),
               std::invalid_argument);

  Attributes wrongPort({{std::string(sec::kSecAttrPort), Value("80")}});
  EXPECT_EQ(wrongPort.port(), std::nullopt);
  EXPECT_EQ(wrongPort.description(), R"(["port": "80"])");
  EXPECT_EQ(wrongPort.debugDescription(), wrongPort.description());
  Attributes item({{"acct", Value("k")}, {"sync", Value(true)}, {"v_Data", formats::Data{1, 2}}});
  EXPECT_EQ(item.description(), R"(["acct": "k", "sync": true, "v_Data": <2 bytes>])");
  EXPECT_EQ(Attributes({}).description(), "[:]");
  Attributes large({{"n", Value(std::numeric_limits<std::uint64_t>::max())}});
  EXPECT_EQ(large.description(), R"(["n": 18446744073709551615])");
}

TEST_F(KeychainTest, StringsRoundTripAndSecondSetUpdates) {
  EXPECT_EQ(output([&] { EXPECT_EQ(keychain->getString("never"), std::nullopt); }), "");
  keychain->set("", "empty");
  EXPECT_EQ(keychain->getString("empty"), "");
  keychain->set("one", "k");
  keychain->set("two", "k");
  EXPECT_EQ(keychain->getString("k"), "two");
  EXPECT_EQ(platform->keychain.size(), 2u) << "the second set updated, it did not add";
  EXPECT_EQ(output([&] {
              keychain->remove("missing");
              keychain->remove("k");
            }),
            "");
  EXPECT_EQ(keychain->getString("k"), std::nullopt);
  keychain->setString("sub", "value");
  EXPECT_EQ((*keychain)["sub"], "value");
  keychain->setString("sub", std::nullopt);
  EXPECT_EQ(keychain->string("sub"), std::nullopt);
}

TEST_F(KeychainTest, InvalidUtf8Bytes) {
  keychain->set(formats::Data{0xFF, 0xFE}, "bytes");
  EXPECT_EQ(keychain->getData("bytes"), (formats::Data{0xFF, 0xFE}));
  EXPECT_EQ(output([&] {
              try {
                keychain->getString("bytes");
                ADD_FAILURE() << "expected conversionError";
              } catch (const StatusError& error) {
                EXPECT_EQ(error.status(), Status::conversionError);
              }
            }),
            "failed to convert data to string\n");
  EXPECT_EQ(output([&] { EXPECT_EQ((*keychain)["bytes"], std::nullopt); }),
            "failed to convert data to string\n");
  EXPECT_EQ(output([&] { EXPECT_THROW(keychain->set(std::string("\xC3"), "x"), StatusError); }),
            "failed to convert string to data\n");
}

TEST_F(KeychainTest, RefusedAccessControlPolicyWritesNothing) {
  keychain->set("kept", "k");
  auto strict = keychain->accessibility(Accessibility::whenUnlocked,
                                        AuthenticationPolicy(std::uint64_t{0x4}));
  std::string line = output([&] {
    EXPECT_THROW(strict->set("new", "k"), platform::ErrorException);
    EXPECT_THROW(strict->set("new", "other"), platform::ErrorException);
  });
  EXPECT_EQ(line,
            "The access-control flags contain unknown bits.\nThe access-control flags contain "
            "unknown bits.\n");
  EXPECT_EQ(keychain->getString("k"), "kept");
  EXPECT_EQ(keychain->getString("other"), std::nullopt);
}

TEST_F(KeychainTest, ContainsAndProtectedItems) {
  auto guarded =
      keychain->accessibility(Accessibility::whenUnlocked, AuthenticationPolicy::userPresence);
  guarded->set("secret", "g");
  EXPECT_TRUE(keychain->contains("g", true)) << "present although reading it needs authentication";
  EXPECT_TRUE(keychain->contains("g", false));
  EXPECT_FALSE(keychain->contains("nothing", true));
  guarded->set("changed", "g");
  EXPECT_EQ(keychain->getString("g"), "changed") << "a protected item is updated, not added";
}

TEST_F(KeychainTest, AddRaceEndsInOneUpdate) {
  platform->keychain.beforeNextAdd(
      [&] { Keychain::withService(platform, "com.example")->set("theirs", "k"); });
  keychain->set("mine", "k");
  EXPECT_EQ(keychain->getString("k"), "mine");
  EXPECT_EQ(platform->keychain.size(), 1u);

  platform->keychain.failNextAdd(platform::errSecParam);
  EXPECT_EQ(output([&] { EXPECT_THROW(keychain->set("v", "other"), StatusError); }),
            "OSStatus error:[-50] One or more parameters passed to a function were not valid.\n");
}

TEST_F(KeychainTest, ListingsAndDescription) {
  EXPECT_EQ(keychain->description(), "[]");
  EXPECT_TRUE(keychain->allKeys().empty());
  keychain->set("1", "a");
  keychain->set("2", "b");
  Keychain::withService(platform, "other")->set("3", "c");
  EXPECT_EQ(keychain->allKeys(), (std::vector<std::string>{"a", "b"}));

  formats::Dictionary serviceless{
      {std::string(sec::kSecClass), std::string(sec::kSecClassGenericPassword)},
      {std::string(sec::kSecAttrAccount), "lone"},
      {std::string(sec::kSecValueData), formats::Data{}}};
  ASSERT_EQ(platform->keychain.secItemAdd(serviceless), platform::errSecSuccess);
  auto keys = Keychain::allKeys(*platform, ItemClass::genericPassword);
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_EQ(keys.back(), (std::pair<std::string, std::string>{"", "lone"}));
  EXPECT_TRUE(Keychain::allItems(*platform, ItemClass::internetPassword).empty());
  // Naming no synchronisation flag, the type's listing takes items of either.
  Keychain::withService(platform, "other")->synchronizable(true)->set("4", "d");
  auto every = Keychain::allItems(*platform, ItemClass::genericPassword);
  ASSERT_EQ(every.size(), 5u);
  EXPECT_EQ(every.back().at("synchronizable"), Value("true"));

  auto items = keychain->allItems();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].at("value"), Value("1"));
  EXPECT_EQ(items[0].at("class"), Value("GenericPassword"));
  EXPECT_EQ(items[0].at("accessibility"), Value("AfterFirstUnlock"));
  EXPECT_EQ(items[0].at("synchronizable"), Value("false"));
  auto text = keychain->description();
  EXPECT_EQ(text.substr(0, 4), "[\n  ");
  EXPECT_EQ(text.substr(text.size() - 2), "\n]");
}

TEST_F(KeychainTest, AttributesHandlerAndRemoveAll) {
  int calls = 0;
  auto missing = keychain->get<bool>("none", IgnoringAttributeSynchronizable::yes,
                                     [&](const std::optional<Attributes>& a) {
                                       ++calls;
                                       return a.has_value();
                                     });
  EXPECT_FALSE(missing);
  EXPECT_EQ(calls, 1);
  keychain->label("tag")->set("v", "k");
  auto attributes = keychain->attributes("k");
  ASSERT_TRUE(attributes);
  EXPECT_EQ(attributes->label(), "tag");
  EXPECT_EQ(attributes->account(), "k");
  EXPECT_EQ(attributes->data(), (formats::Data{'v'}));
  EXPECT_TRUE(attributes->creationDate());
  EXPECT_TRUE(attributes->persistentRef());

  keychain->synchronizable(true)->set("s", "synced");
  EXPECT_EQ(output([&] { keychain->removeAll(); }), "");
  EXPECT_EQ(platform->keychain.size(), 0u) << "synchronised or not";
  EXPECT_EQ(output([&] { keychain->removeAll(); }), "");
}

}  // namespace
}  // namespace quorin::keychain
