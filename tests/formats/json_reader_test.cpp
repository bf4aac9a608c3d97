#include "formats/json.hpp"

#include <gtest/gtest.h>

namespace quorin::platform {
namespace {

TEST(JsonReaderTest, NumbersKeepTheirKind) {
  auto value = formats::parseJson(
      R"({"int":42,"negative":-7,"real":1.5,"exp":1e3,"big":18446744073709551615})");
  ASSERT_TRUE(value);
  EXPECT_EQ(*value->find("int"), formats::Value(std::int64_t{42}));
  EXPECT_EQ(*value->find("negative"), formats::Value(std::int64_t{-7}));
  EXPECT_EQ(*value->find("real"), formats::Value(1.5));
  EXPECT_EQ(*value->find("exp"), formats::Value(1000.0));
  EXPECT_EQ(*value->find("big"), formats::Value(18446744073709551615.0));
}

TEST(JsonReaderTest, ReadsEveryKindOfValue) {
  auto value = formats::parseJson(R"([null,true,false,"t\u00e9xt\u0000",{"b":[],"a":{}},[1,[2]]])");
  ASSERT_TRUE(value);
  EXPECT_EQ(*value,
            formats::Value(formats::Array{
                formats::Value(formats::Null{}), formats::Value(true), formats::Value(false),
                formats::Value(std::string("t\xc3\xa9xt\0", 6)),
                formats::Value(formats::Dictionary{{"a", formats::Value(formats::Dictionary{})},
                                                   {"b", formats::Value(formats::Array{})}}),
                formats::Value(formats::Array{
                    formats::Value(1), formats::Value(formats::Array{formats::Value(2)})})}));
  EXPECT_EQ(formats::parseJson(R"({"k":1,"k":2})"),
            formats::Value(formats::Dictionary{{"k", formats::Value(2)}}));
}

TEST(JsonReaderTest, RefusesWhatIsNoDocument) {
  for (std::string_view text :
       {"", " ", "42", "\"text\"", "null", "[1,]", "{\"a\":}", "[1] [2]", "{'a':1}", "[1e999]",
        "[\"\xff\"]", "[NaN]", "/* */ []", "\xEF\xBB\xBF", "\xEF\xBB[]", " \xEF\xBB\xBF[]",
        "[01234567890123456789012]", "[-]", "[1e999999999999999999999]"})
    EXPECT_FALSE(formats::parseJson(text)) << text;
  EXPECT_FALSE(formats::parseJson(std::string(2000, '[') + std::string(2000, ']')));
  EXPECT_TRUE(formats::parseJson(std::string(500, '[') + std::string(500, ']')));
}

// As the platform's own parser reads them.
TEST(JsonReaderTest, AcceptsAByteOrderMarkAndIntegersBeyondSixtyFourBits) {
  EXPECT_EQ(formats::parseJson("\xEF\xBB\xBF{\"k\":1}"),
            formats::Value(formats::Dictionary{{"k", formats::Value(1)}}));
  auto value = formats::parseJson(
      R"({"wide":123456789012345678901234567890,"low":-9223372036854775809,)"
      R"("edge":18446744073709551616,"real":1.123456789012345678901234,)"
      R"("text":"123456789012345678901234567890","list":[100000000000000000000000,7]})");
  ASSERT_TRUE(value);
  EXPECT_EQ(*value->find("wide"), formats::Value(1.2345678901234568e29));
  EXPECT_EQ(*value->find("low"), formats::Value(-9223372036854775809.0));
  EXPECT_EQ(*value->find("edge"), formats::Value(18446744073709551616.0));
  EXPECT_EQ(*value->find("real"), formats::Value(1.123456789012345678901234));
  EXPECT_EQ(*value->find("text"), formats::Value("123456789012345678901234567890"));
  EXPECT_EQ(*value->find("list"),
            formats::Value(formats::Array{formats::Value(1e23), formats::Value(7)}));
}

TEST(JsonReaderTest, WritingWhatWasReadReadsTheSame) {
  std::string text = R"({"a":[1,2.25,-3e-7,"x\"y\n"],"b":{"c":null,"d":true},"e":1.0})";
  auto first = formats::parseJson(text);
  ASSERT_TRUE(first);
  auto written = formats::writeJson(*first);
  ASSERT_TRUE(written);
  EXPECT_EQ(*written, R"({"a":[1,2.25,-3e-07,"x\"y\n"],"b":{"c":null,"d":true},"e":1})");
  auto again = formats::parseJson(*written);
  ASSERT_TRUE(again);
  EXPECT_EQ(formats::writeJson(*again), written);
}

}  // namespace
}  // namespace quorin::platform
