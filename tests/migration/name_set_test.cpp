#include "migration/name_set.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorin::migration {
namespace {

TEST(NameSetTest, KeepsEachNameOnceThroughGrowth) {
  NameSet names;
  for (int i = 0; i < 100'000; ++i) ASSERT_TRUE(names.insert("evt-" + std::to_string(i))) << i;
  for (int i = 0; i < 100'000; i += 7) EXPECT_FALSE(names.insert("evt-" + std::to_string(i))) << i;
  EXPECT_EQ(names.size(), 100'000u);
}

TEST(NameSetTest, KeepsAFewNamesThroughAReservation) {
  NameSet names;
  for (const char* name : {"x", "y", "z"}) ASSERT_TRUE(names.insert(name));
  names.reserve(1'000);
  for (const char* name : {"x", "y", "z"}) EXPECT_FALSE(names.insert(name)) << name;
  EXPECT_EQ(names.size(), 3u);
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

// Lengths where the stored length takes another byte, names that end a block or need one of
// their own, and growth without a reservation.
TEST(NameSetTest, KeepsLongNamesAndNamesAcrossBlocks) {
  NameSet names;
  std::vector<std::string> kept;
  for (std::size_t length : {127u, 128u, 16'383u, 16'384u, 3u << 20})
    kept.push_back(std::string(length, 'n'));
  for (int i = 0; i < 3'000; ++i) kept.push_back(std::string(1'000, 'a') + std::to_string(i));
  for (const auto& name : kept) ASSERT_TRUE(names.insert(name)) << name.size();
  for (const auto& name : kept) EXPECT_FALSE(names.insert(name)) << name.size();
  EXPECT_FALSE(names.insert(std::string(1'000, 'a') + "2999"));
  EXPECT_TRUE(names.insert(std::string(3u << 20, 'm')));
  EXPECT_EQ(names.size(), kept.size() + 1);
}

TEST(NameSetTest, InsertEachReportsOnlyTheFirstOfEachName) {
  NameSet names;
  names.insert("b");
  std::vector<std::string> batch{"a", "b", "c", "a", "d", "c", "e", "f", "g", "h", "i", "a"};
  std::vector<std::size_t> fresh;
  names.insertEach(
      batch.size(), [&](std::size_t i) { return std::string_view(batch[i]); },
      [&](std::size_t i) { fresh.push_back(i); });
  EXPECT_EQ(fresh, (std::vector<std::size_t>{0, 2, 4, 6, 7, 8, 9, 10}));
  EXPECT_EQ(names.size(), 9u);
}

}  // namespace
}  // namespace quorin::migration
