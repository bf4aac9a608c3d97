#include "migration/name_set.hpp"

#include <gtest/gtest.h>

#include <string>

namespace quorin::migration {
namespace {

TEST(NameSetTest, KeepsEachNameOnceThroughGrowth) {
  NameSet names;
  for (int i = 0; i < 100'000; ++i) ASSERT_TRUE(names.insert("evt-" + std::to_string(i))) << i;
  for (int i = 0; i < 100'000; i += 7) EXPECT_FALSE(names.insert("evt-" + std::to_string(i))) << i;
  EXPECT_EQ(names.size(), 100'000u);
}

TEST(NameSetTest, TellsNamesApartByEveryByte) {
  NameSet names;
  names.reserve(3);
  EXPECT_TRUE(names.insert(""));
  EXPECT_FALSE(names.insert(""));
  EXPECT_TRUE(names.insert(std::string("a\0b", 3)));
  EXPECT_TRUE(names.insert(std::string("a\0c", 3)));
  EXPECT_TRUE(names.insert("abcdefgh"));
  EXPECT_TRUE(names.insert("abcdefghi"));
  EXPECT_TRUE(names.insert("abcdefgi"));
  EXPECT_FALSE(names.insert("abcdefghi"));
  EXPECT_EQ(names.size(), 6u);
}

}  // namespace
}  // namespace quorin::migration
