#include "keychain/value_types.hpp"

#include <gtest/gtest.h>

#include <set>

namespace quorin::keychain {
namespace {

template <typename Enum>
void expectRoundTrip(int count) {
  std::set<std::string_view> raws;
  for (int i = 0; i < count; ++i) {
    auto value = static_cast<Enum>(i);
    EXPECT_EQ(fromRawValue<Enum>(rawValue(value)), value);
    EXPECT_TRUE(raws.insert(rawValue(value)).second) << "raw values differ within one enumeration";
  }
  EXPECT_EQ(fromRawValue<Enum>(""), std::nullopt);
  EXPECT_EQ(fromRawValue<Enum>("no such constant"), std::nullopt);
}

TEST(ValueTypesTest, EveryCaseRoundTripsThroughItsRawValue) {
  expectRoundTrip<ItemClass>(2);
  expectRoundTrip<ProtocolType>(31);
  expectRoundTrip<AuthenticationType>(8);
  expectRoundTrip<Accessibility>(7);
  EXPECT_EQ(fromRawValue<ItemClass>("GENP"), std::nullopt) << "comparison is case-sensitive";
}

TEST(ValueTypesTest, Descriptions) {
  EXPECT_EQ(description(ProtocolType::ipp), "IPP");
  EXPECT_EQ(description(ProtocolType::httpProxy), "HTTPProxy");
  EXPECT_EQ(description(ProtocolType::rtspProxy), "RTSPProxy");
  EXPECT_EQ(description(ProtocolType::telnetS), "TelnetS");
  EXPECT_EQ(description(ProtocolType::pop3S), "POP3S");
  EXPECT_EQ(description(AuthenticationType::default_), "Default");
  EXPECT_EQ(description(Accessibility::afterFirstUnlockThisDeviceOnly),
            "AfterFirstUnlockThisDeviceOnly");
  EXPECT_EQ(description(ItemClass::internetPassword), "InternetPassword");
}

TEST(AuthenticationPolicyTest, BitsAndSetAlgebra) {
  EXPECT_EQ(AuthenticationPolicy(std::uint64_t{0x4}).rawValue, 0x4u) << "unnamed bits are kept";
  AuthenticationPolicy empty{};
  EXPECT_TRUE(empty.isEmpty());
  EXPECT_EQ(AuthenticationPolicy::touchIDAny, AuthenticationPolicy::biometryAny);
  AuthenticationPolicy combined{AuthenticationPolicy::userPresence, AuthenticationPolicy::or_};
  EXPECT_EQ(combined.rawValue, 0x4001u);
  EXPECT_TRUE(combined.contains(AuthenticationPolicy::or_));
  EXPECT_TRUE(AuthenticationPolicy::or_.isSubset(combined));
  EXPECT_TRUE(combined.isDisjoint(AuthenticationPolicy::watch));
  EXPECT_EQ(combined.subtracting(AuthenticationPolicy::or_), AuthenticationPolicy::userPresence);
  EXPECT_EQ(combined.symmetricDifference(AuthenticationPolicy::userPresence),
            AuthenticationPolicy::or_);

  auto [inserted, member] = combined.insert(AuthenticationPolicy::watch);
  EXPECT_TRUE(inserted);
  EXPECT_EQ(member, AuthenticationPolicy::watch);
  EXPECT_FALSE(combined.insert(AuthenticationPolicy::watch).first);
  EXPECT_EQ(combined.remove(AuthenticationPolicy::watch), AuthenticationPolicy::watch);
  EXPECT_EQ(combined.remove(AuthenticationPolicy::watch), std::nullopt);
  EXPECT_EQ(combined.update(AuthenticationPolicy::userPresence),
            AuthenticationPolicy::userPresence);
  EXPECT_EQ(combined.update(AuthenticationPolicy::devicePasscode), std::nullopt);
  EXPECT_EQ(combined.rawValue, 0x4011u);
}

}  // namespace
}  // namespace quorin::keychain
