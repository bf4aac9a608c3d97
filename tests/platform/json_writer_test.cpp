#include "formats/json.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "formats/utf8.hpp"

namespace quorin::platform {
namespace {

TEST(JsonWriterTest, WritesCompactDocumentsInKeyOrder) {
  Value document(Dictionary{
      {"b", Value(Array{Value(1), Value(-2.5), Value(true), Value()})},
      {"a", Value("quote \" backslash \\ newline \n tab \t bell \x07 caf\xC3\xA9 /")},
      {"n", Value(std::int64_t{-9007199254740993})},
      {"d", Value(0.1)},
      {"e", Value(1e300)},
  });
  EXPECT_EQ(*writeJson(document),
            "{\"a\":\"quote \\\" backslash \\\\ newline \\n tab \\t bell \\u0007 caf\xC3\xA9 /\","
            "\"b\":[1,-2.5,true,null],\"d\":0.1,\"e\":1e+300,\"n\":-9007199254740993}");
  EXPECT_EQ(*writeJson(Value(Dictionary{})), "{}");
  // Whole doubles past 64 bits keep an exponent, so that they read back as numbers.
  EXPECT_EQ(*writeJson(Value(Array{Value(18446744073709551615.0), Value(-0x1p63), Value(1e18)})),
            "[1.8446744073709552e+19,-9.223372036854776e+18,1e+18]");
  EXPECT_EQ(*writeJson(Value(Array{})), "[]");
  // Unsigned integers past the signed range stay exact.
  EXPECT_EQ(*writeJson(Value(Array{Value(std::numeric_limits<std::uint64_t>::max()),
                                   Value(std::uint64_t{1} << 63)})),
            "[18446744073709551615,9223372036854775808]");
}

TEST(JsonWriterTest, RefusesWhatJsonCannotHold) {
  EXPECT_FALSE(writeJson(Value(std::numeric_limits<double>::infinity())));
  EXPECT_FALSE(writeJson(Value(Array{Value(std::numeric_limits<double>::quiet_NaN())})));
  EXPECT_FALSE(writeJson(Value(Date{0})));
  EXPECT_FALSE(writeJson(Value(Data{1})));
  EXPECT_FALSE(writeJson(Value("\xC3")));
  EXPECT_FALSE(writeJson(Value(Dictionary{{"\xFF", Value(1)}})));

  // A refused append leaves what was there, so that a caller can write something else.
  std::string out = "{\"a\":";
  EXPECT_FALSE(appendJsonString("ok \xC3", out));
  EXPECT_FALSE(appendJson(Value(Array{Value(1), Value(Date{0})}), out));
  EXPECT_EQ(out, "{\"a\":");
  EXPECT_TRUE(appendJsonString("ok", out));
  EXPECT_EQ(out, "{\"a\":\"ok\"");
}

TEST(Utf8Test, AcceptsWellFormedTextOnly) {
  for (auto good :
       {"", "ascii", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"})
    EXPECT_TRUE(isValidUtf8(good)) << good;
  for (auto bad : {"\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                   "\xF0\x9F\x98", "\xFF", "a\xC3"})
    EXPECT_FALSE(isValidUtf8(bad)) << bad;
}

}  // namespace
}  // namespace quorin::platform
