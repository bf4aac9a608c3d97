#include "formats/json_count.hpp"

#include <gtest/gtest.h>

#include <string>

#include "formats/json.hpp"

namespace quorin::platform {
namespace {

// The count of `text` fed whole, which feeding it a byte at a time must not change.
std::optional<formats::JsonCount> count(std::string_view text) {
  formats::JsonCounter whole;
  whole.feed(text);
  formats::JsonCounter bytes;
  for (char c : text) bytes.feed(std::string_view(&c, 1));
  auto result = whole.finish();
  auto byByte = bytes.finish();
  EXPECT_EQ(result.has_value(), byByte.has_value()) << text;
  if (result && byByte) {
    EXPECT_EQ(result->count, byByte->count) << text;
  }
  return result;
}

TEST(JsonCounterTest, CountsTheTopLevelOnly) {
  struct Case {
    std::string text;
    bool isObject;
    std::size_t count;
  };
  for (const auto& [text, isObject, expected] : std::initializer_list<Case>{
           {"{}", true, 0},
           {" [ ] ", false, 0},
           {R"({"a":1})", true, 1},
           {R"({"a,b":[1,2,{"c":3}],"d":"}]\"x,","e":{}})", true, 3},
           {R"([1,[2,3],{"x":[4,5]},"6,7"])", false, 4},
           {"\xEF\xBB\xBF[true, null]", false, 2},
           {"[\"\\\\\",\"\\\\\\\"\"]", false, 2},
           {"[true,false, null ,-1.5e3,[],{}]", false, 6},
           {R"({"a" : {"b":[1, "x"]} , "c":null})", true, 2},
       }) {
    auto counted = count(text);
    ASSERT_TRUE(counted) << text;
    EXPECT_EQ(counted->isObject, isObject) << text;
    EXPECT_EQ(counted->count, expected) << text;
  }
}

TEST(JsonCounterTest, RefusesWhatDoesNotCloseAsOneDocument) {
  for (std::string text :
       {"", " ", "1", "\"text\"", "{", "[1,2", R"({"a":"b})", "{]", "[}", "[] []", "{}x", "]",
        "\xEF\xBB[]", "x[]", R"(["a\"])",
        // structure that does not alternate as JSON's does
        "[1 2 3]", "[,]", "[1,]", R"({"a"})", R"({"a":1,})", R"({"a" 1})", "[1:2]", R"(["a":1])",
        R"({1:2})", R"({"a":1 "b":2})", "[[] []]", R"({"a":{}"b":1})",
        // literals misspelt, and what no value starts with
        "[tru]", "[truex]", "[nul]", "[nulls]", "[x]", "[1x]", "[e5]", "[.5]", "[+1]", "[1", "[tr",
        // a byte-order mark anywhere but first
        " \xEF\xBB\xBF[1]", "\xEF \xBB\xBF[]"}) {
    EXPECT_FALSE(count(text)) << text;
  }
  EXPECT_TRUE(
      count(std::string(formats::kMaxJsonDepth, '[') + std::string(formats::kMaxJsonDepth, ']')));
  EXPECT_FALSE(count(std::string(formats::kMaxJsonDepth + 1, '[') +
                     std::string(formats::kMaxJsonDepth + 1, ']')));
}

// Wherever a document is accepted, the counter agrees with the outline.
TEST(JsonCounterTest, AgreesWithTheOutline) {
  for (std::string text : {R"({"k":1,"k":2,"l":[1,{"m":"]"}]})", R"([[],{},"",0,-1.5e3])",
                           "\t{\"a\" : [ 1 , 2 ] }\n"}) {
    auto outline = formats::outlineJson(text);
    auto counted = count(text);
    ASSERT_TRUE(outline && counted) << text;
    EXPECT_EQ(counted->count, outline->count) << text;
    EXPECT_EQ(counted->isObject, outline->isObject) << text;
  }
}

}  // namespace
}  // namespace quorin::platform
