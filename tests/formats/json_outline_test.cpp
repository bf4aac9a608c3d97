#include <gtest/gtest.h>

#include "formats/json.hpp"
#include "support/value_printer.hpp"

namespace quorin::platform {
namespace {

// Each member's text, made compact and parsed on its own, is the member parseJson gives.
void expectAgreesWithParse(const std::string& text) {
  auto outline = formats::outlineJson(text);
  auto parsed = formats::parseJson(text);
  ASSERT_EQ(outline.has_value(), parsed.has_value()) << text;
  if (!outline || !outline->isObject) return;
  formats::Dictionary rebuilt;
  for (const auto& member : outline->members) {
    std::string compact;
    formats::appendCompactJson(member.text, compact);
    auto value = formats::parseJson("[" + compact + "]");
    ASSERT_TRUE(value) << member.name << ": " << compact;
    rebuilt.insert_or_assign(member.name, value->get<formats::Array>()->front());
  }
  EXPECT_EQ(formats::Value(std::move(rebuilt)), *parsed) << text;
}

TEST(JsonOutlineTest, MembersKeepTheirSourceText) {
  std::string text = R"( { "a" : 1.50 , "b\u0021" : [ 1, {"c" : "x y"} ] , "d":null,"a":true } )";
  auto outline = formats::outlineJson(text);
  ASSERT_TRUE(outline);
  EXPECT_TRUE(outline->isObject);
  EXPECT_EQ(outline->count, 4u);
  ASSERT_EQ(outline->members.size(), 4u);
  EXPECT_EQ(outline->members[0].name, "a");
  EXPECT_EQ(outline->members[0].text, "1.50");
  EXPECT_EQ(outline->members[1].name, "b!");
  EXPECT_EQ(outline->members[1].text, R"([ 1, {"c" : "x y"} ])");
  EXPECT_EQ(outline->members[2].text, "null");
  EXPECT_EQ(outline->members[3].text, "true");
  // The texts point into the caller's string.
  EXPECT_GE(outline->members[1].text.data(), text.data());
  EXPECT_LT(outline->members[1].text.data(), text.data() + text.size());

  std::string compact;
  formats::appendCompactJson(outline->members[1].text, compact);
  EXPECT_EQ(compact, R"([1,{"c":"x y"}])");

  auto array = formats::outlineJson("[1, [2], {}]");
  ASSERT_TRUE(array);
  EXPECT_FALSE(array->isObject);
  EXPECT_EQ(array->count, 3u);
  EXPECT_TRUE(array->members.empty());
}

TEST(JsonOutlineTest, AcceptsWhatParseAccepts) {
  for (std::string text :
       {R"({})", R"([])", R"({"k":1,"k":2})", R"({"n":-0.0,"e":1E+2,"big":18446744073709551615})",
        R"({"s":"\ud83d\ude00 \u0000"})", "\t{\"a\":[]}\n", R"({"nested":{"a":[[[{}]]]}})",
        // and refuses what parse refuses
        "", " ", "1", "\"text\"", "null", "{", R"({"a":})", R"({"a":1,})", R"([1,])",
        R"({"a":tru})", R"({"a":nul})", R"({"a":01})", R"({"a":1}x)", "[] []", R"({"a":"\x"})",
        R"({"a":"\ud800"})", "{\"a\":\"\xff\"}", "{\"a\":\"\x01\"}",
        R"({"a":100000000000000000000})", R"([1 2])", R"({"a" 1})", "\xEF\xBB\xBF{\"a\":1}",
        R"({"a":-100000000000000000000000})", R"({"a":[1.00000000000000000000001]})",
        R"({"a":0100000000000000000000})", "\xEF\xBB\xBF", "\xEF\xBB\xBF \xEF\xBB\xBF[]",
        // numbers at the edges of what JSON spells
        "[-]", "[1.]", "[-01]", "[1.5x]", "[12a]", "[.5]", "[1e400]", "[-1e-400]", "[1.e5]",
        "[999999999999999999,-999999999999999999]", "[1234567890123456789,-9223372036854775808]",
        "[0.12345678901234567890123456789, -0, 0.0 ,1 ]", "[+1]", "[1.5.2]", "[0x10]",
        // escapes in short strings
        R"(["caf\u00e9 \"x\"","\uD83D\u0041"])", R"(["\uD83D"])", R"(["\uDE00x"])", R"(["\u12G4"])",
        R"(["\u00"])",
        // a scalar followed by what cannot follow a value
        R"([{"id":"t":n","thur"]])", R"({"a":"t":1})", R"({"a":1:2})", R"([1:2])", R"(["a":1])",
        R"({"a":true:1})", R"({"a":null:1})", R"({"a":1.5:"x","b":2})", R"([{"a":-1:"x"}])"}) {
    expectAgreesWithParse(text);
  }
  for (std::string scalar : {R"("t")", "1", "-2.5", "true", "null"}) {
    expectAgreesWithParse(std::string("[{\"id\":") + scalar +
                          ":n\",\"thur\"],\"tz\":{\"offset\x0e" + std::string(1, '\0') + "set\x0e" +
                          std::string(1, '\0') + "-18000}}]");
  }
  // and in long ones
  for (std::string escapes : {R"(\u00e9\n\t\/\b\f\r\\)", R"(\q)", R"(\ud83d)", R"(\u00e)"})
    expectAgreesWithParse("[\"" + std::string(70, 'x') + escapes + "\"]");
  for (std::size_t depth : {1023u, 1024u, 1025u, 5000u}) {
    expectAgreesWithParse(std::string(depth, '[') + std::string(depth, ']'));
    expectAgreesWithParse("{\"a\":" + std::string(depth, '[') + std::string(depth, ']') + "}");
    expectAgreesWithParse("[" + std::string(depth, '{') + "}]");
  }
}

TEST(JsonOutlineTest, PassesWideIntegersAsSpeltAndLeavesTheByteOrderMarkOut) {
  std::string text = "\xEF\xBB\xBF[123456789012345678901234567890, {\"a\":[[2]]}]";
  auto outline = formats::outlineJson(text);
  ASSERT_TRUE(outline);
  EXPECT_EQ(outline->text, "[123456789012345678901234567890, {\"a\":[[2]]}]");
  EXPECT_EQ(outline->depth, 4);
  std::string compact;
  for (auto piece : outline->pieces(outline->text)) formats::appendCompactJson(piece, compact);
  EXPECT_EQ(compact, "[123456789012345678901234567890,{\"a\":[[2]]}]");

  std::string objectText = R"({"n":-99999999999999999999,"s":1})";
  auto object = formats::outlineJson(objectText);
  ASSERT_TRUE(object);
  EXPECT_EQ(object->depth, 1);
  EXPECT_EQ(object->members.front().text, "-99999999999999999999");
}

TEST(JsonOutlineTest, TextWithoutSpareCapacityIsCopiedNotMisread) {
  std::string text = R"({"a":"value"})";
  text.shrink_to_fit();
  auto outline = formats::outlineJson(text);
  ASSERT_TRUE(outline);
  EXPECT_EQ(outline->members[0].text, "\"value\"");
  EXPECT_EQ(outline->members[0].text.data(), text.data() + 5);
}

}  // namespace
}  // namespace quorin::platform
