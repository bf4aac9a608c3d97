#include "formats/json.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "formats/utf8.hpp"

namespace quorin::platform {
namespace {

TEST(JsonWriterTest, WritesCompactDocumentsInKeyOrder) {
  formats::Value document(formats::Dictionary{
      {"b", formats::Value(formats::Array{formats::Value(1), formats::Value(-2.5),
                                          formats::Value(true), formats::Value()})},
      {"a", formats::Value("quote \" backslash \\ newline \n tab \t bell \x07 caf\xC3\xA9 /")},
      {"n", formats::Value(std::int64_t{-9007199254740993})},
      {"d", formats::Value(0.1)},
      {"e", formats::Value(1e300)},
  });
  EXPECT_EQ(*formats::writeJson(document),
            "{\"a\":\"quote \\\" backslash \\\\ newline \\n tab \\t bell \\u0007 caf\xC3\xA9 /\","
            "\"b\":[1,-2.5,true,null],\"d\":0.1,\"e\":1e+300,\"n\":-9007199254740993}");
  EXPECT_EQ(*formats::writeJson(formats::Value(formats::Dictionary{})), "{}");
  // Whole doubles past 64 bits keep an exponent, so that they read back as numbers.
  EXPECT_EQ(
      *formats::writeJson(formats::Value(formats::Array{
          formats::Value(18446744073709551615.0), formats::Value(-0x1p63), formats::Value(1e18)})),
      "[1.8446744073709552e+19,-9.223372036854776e+18,1e+18]");
  EXPECT_EQ(*formats::writeJson(formats::Value(formats::Array{})), "[]");
  // Unsigned integers past the signed range stay exact.
  EXPECT_EQ(*formats::writeJson(formats::Value(
                formats::Array{formats::Value(std::numeric_limits<std::uint64_t>::max()),
                               formats::Value(std::uint64_t{1} << 63)})),
            "[18446744073709551615,9223372036854775808]");
}

TEST(JsonWriterTest, RefusesWhatJsonCannotHold) {
  EXPECT_FALSE(formats::writeJson(formats::Value(std::numeric_limits<double>::infinity())));
  EXPECT_FALSE(formats::writeJson(
      formats::Value(formats::Array{formats::Value(std::numeric_limits<double>::quiet_NaN())})));
  EXPECT_FALSE(formats::writeJson(formats::Value(formats::Date{0})));
  EXPECT_FALSE(formats::writeJson(formats::Value(formats::Data{1})));
  EXPECT_FALSE(formats::writeJson(formats::Value("\xC3")));
  EXPECT_FALSE(
      formats::writeJson(formats::Value(formats::Dictionary{{"\xFF", formats::Value(1)}})));

  // A refused append leaves what was there, so that a caller can write something else.
  std::string out = "{\"a\":";
  EXPECT_FALSE(formats::appendJsonString("ok \xC3", out));
  EXPECT_FALSE(formats::appendJson(
      formats::Value(formats::Array{formats::Value(1), formats::Value(formats::Date{0})}), out));
  EXPECT_EQ(out, "{\"a\":");
  EXPECT_TRUE(formats::appendJsonString("ok", out));
  EXPECT_EQ(out, "{\"a\":\"ok\"");
}

TEST(Utf8Test, AcceptsWellFormedTextOnly) {
  for (auto good :
       {"", "ascii", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"})
    EXPECT_TRUE(formats::isValidUtf8(good)) << good;
  for (auto bad : {"\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                   "\xF0\x9F\x98", "\xFF", "a\xC3"})
    EXPECT_FALSE(formats::isValidUtf8(bad)) << bad;
}

}  // namespace
}  // namespace quorin::platform
