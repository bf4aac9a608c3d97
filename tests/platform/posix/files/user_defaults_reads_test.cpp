#include <gtest/gtest.h>

#include "platform/user_defaults.hpp"
#include "support/in_memory_defaults.hpp"

namespace quorin::platform {
namespace {

class UserDefaultsReadsTest : public ::testing::Test {
 protected:
  void set(const std::string& key, formats::Value value) {
    all.set("suite", key, std::move(value));
  }

  testing::InMemoryDefaults all;
  std::unique_ptr<UserDefaults> suite = all.open("suite");
};

TEST_F(UserDefaultsReadsTest, NumbersConvertOnlyWhenExact) {
  set("int", formats::Value(std::int64_t{42}));
  set("real", formats::Value(2.5));
  set("whole", formats::Value(-3.0));
  set("true", formats::Value(true));
  set("wide", formats::Value(std::int64_t{(1LL << 53) + 1}));
  set("max", formats::Value(std::numeric_limits<std::int64_t>::max()));
  set("huge", formats::Value(0x1p63));
  set("text", formats::Value("7"));
  EXPECT_EQ(doubleForKey(*suite, "int"), 42.0);
  EXPECT_EQ(doubleForKey(*suite, "true"), 1.0);
  EXPECT_EQ(doubleForKey(*suite, "wide"), std::nullopt);
  EXPECT_EQ(doubleForKey(*suite, "max"), std::nullopt);
  EXPECT_EQ(doubleForKey(*suite, "text"), std::nullopt);
  EXPECT_EQ(integerForKey(*suite, "whole"), -3);
  EXPECT_EQ(integerForKey(*suite, "real"), std::nullopt);
  EXPECT_EQ(integerForKey(*suite, "huge"), std::nullopt);
  EXPECT_EQ(integerForKey(*suite, "max"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(integerForKey(*suite, "missing"), std::nullopt);

  // Unsigned numbers past the signed range are no integer, and a double only when exact.
  set("unsigned", formats::Value(std::numeric_limits<std::uint64_t>::max()));
  set("power", formats::Value(std::uint64_t{1} << 63));
  EXPECT_EQ(integerForKey(*suite, "unsigned"), std::nullopt);
  EXPECT_EQ(doubleForKey(*suite, "unsigned"), std::nullopt);
  EXPECT_EQ(integerForKey(*suite, "power"), std::nullopt);
  EXPECT_EQ(doubleForKey(*suite, "power"), 0x1p63);

  set("zero", formats::Value(0));
  set("one", formats::Value(1.0));
  set("two", formats::Value(2));
  EXPECT_EQ(boolForKey(*suite, "zero"), false);
  EXPECT_EQ(boolForKey(*suite, "one"), true);
  EXPECT_EQ(boolForKey(*suite, "true"), true);
  EXPECT_EQ(boolForKey(*suite, "two"), std::nullopt);
  EXPECT_EQ(boolForKey(*suite, "text"), std::nullopt);
}

TEST_F(UserDefaultsReadsTest, CollectionsMustHoldOnlyTheWantedType) {
  set("strings", formats::Value(formats::Array{"a", "b"}));
  set("empty", formats::Value(formats::Array{}));
  set("mixed", formats::Value(formats::Array{"a", formats::Value(1)}));
  set("dates", formats::Value(formats::Dictionary{{"p", formats::Date{1.5}}}));
  set("notDates",
      formats::Value(formats::Dictionary{{"p", formats::Date{1.5}}, {"q", formats::Value(1.5)}}));
  EXPECT_EQ(stringArrayForKey(*suite, "strings"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(stringArrayForKey(*suite, "empty"), std::vector<std::string>{});
  EXPECT_EQ(stringArrayForKey(*suite, "mixed"), std::nullopt);
  EXPECT_EQ(stringArrayForKey(*suite, "dates"), std::nullopt);
  EXPECT_EQ(dateDictionaryForKey(*suite, "dates")->at("p"), formats::Date{1.5});
  EXPECT_EQ(dateDictionaryForKey(*suite, "notDates"), std::nullopt);
  EXPECT_EQ(stringForKey(*suite, "strings"), std::nullopt);
}

}  // namespace
}  // namespace quorin::platform
