#include <gtest/gtest.h>

#include "platform/user_defaults.hpp"
#include "support/in_memory_defaults.hpp"

namespace quorin::platform {
namespace {

class UserDefaultsReadsTest : public ::testing::Test {
 protected:
  void set(const std::string& key, Value value) { all.set("suite", key, std::move(value)); }

  testing::InMemoryDefaults all;
  std::unique_ptr<UserDefaults> suite = all.open("suite");
};

TEST_F(UserDefaultsReadsTest, NumbersConvertOnlyWhenExact) {
  set("int", Value(std::int64_t{42}));
  set("real", Value(2.5));
  set("whole", Value(-3.0));
  set("true", Value(true));
  set("wide", Value(std::int64_t{(1LL << 53) + 1}));
  set("max", Value(std::numeric_limits<std::int64_t>::max()));
  set("huge", Value(0x1p63));
  set("text", Value("7"));
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
  set("unsigned", Value(std::numeric_limits<std::uint64_t>::max()));
  set("power", Value(std::uint64_t{1} << 63));
  EXPECT_EQ(integerForKey(*suite, "unsigned"), std::nullopt);
  EXPECT_EQ(doubleForKey(*suite, "unsigned"), std::nullopt);
  EXPECT_EQ(integerForKey(*suite, "power"), std::nullopt);
  EXPECT_EQ(doubleForKey(*suite, "power"), 0x1p63);

  set("zero", Value(0));
  set("one", Value(1.0));
  set("two", Value(2));
  EXPECT_EQ(boolForKey(*suite, "zero"), false);
  EXPECT_EQ(boolForKey(*suite, "one"), true);
  EXPECT_EQ(boolForKey(*suite, "true"), true);
  EXPECT_EQ(boolForKey(*suite, "two"), std::nullopt);
  EXPECT_EQ(boolForKey(*suite, "text"), std::nullopt);
}

TEST_F(UserDefaultsReadsTest, CollectionsMustHoldOnlyTheWantedType) {
  set("strings", Value(Array{"a", "b"}));
  set("empty", Value(Array{}));
  set("mixed", Value(Array{"a", Value(1)}));
  set("dates", Value(Dictionary{{"p", Date{1.5}}}));
  set("notDates", Value(Dictionary{{"p", Date{1.5}}, {"q", Value(1.5)}}));
  EXPECT_EQ(stringArrayForKey(*suite, "strings"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(stringArrayForKey(*suite, "empty"), std::vector<std::string>{});
  EXPECT_EQ(stringArrayForKey(*suite, "mixed"), std::nullopt);
  EXPECT_EQ(stringArrayForKey(*suite, "dates"), std::nullopt);
  EXPECT_EQ(dateDictionaryForKey(*suite, "dates")->at("p"), Date{1.5});
  EXPECT_EQ(dateDictionaryForKey(*suite, "notDates"), std::nullopt);
  EXPECT_EQ(stringForKey(*suite, "strings"), std::nullopt);
}

}  // namespace
}  // namespace quorin::platform
