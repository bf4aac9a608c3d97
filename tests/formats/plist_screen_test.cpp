// Property lists that would crash or exhaust a recursive reader never reach it, and read as
// nothing; everything a device really writes still reads.
#include "formats/plist_screen.hpp"

#include <gtest/gtest.h>

#include "formats/plist_codec.hpp"
#include "support/hostile_plists.hpp"

namespace quorin::platform::posix {
namespace {

using testing::deepBinaryPlist;
using testing::deepXmlPlist;

formats::Value nested(int depth) {
  formats::Value value(true);
  for (int i = 0; i < depth; ++i) value = formats::Value(formats::Array{std::move(value)});
  return value;
}

TEST(PlistScreenTest, NestingStopsAtTheDepthLimitInBothFormats) {
  // The innermost value of `depth` arrays sits at depth + 1.
  for (const auto& plist :
       {deepXmlPlist(formats::kMaxPlistDepth - 1), deepBinaryPlist(formats::kMaxPlistDepth - 1)})
    EXPECT_EQ(formats::parsePlist(plist), nested(formats::kMaxPlistDepth - 1));
  for (int depth : {formats::kMaxPlistDepth, 100'000}) {
    EXPECT_FALSE(formats::parsePlist(deepXmlPlist(depth))) << depth;
    EXPECT_FALSE(formats::parsePlist(deepBinaryPlist(depth))) << depth;
  }
  // Writes are held to the same limit, so that whatever is written reads back.
  for (auto format : {formats::PlistFormat::binary, formats::PlistFormat::xml}) {
    auto deepest = formats::serializePlist(nested(formats::kMaxPlistDepth - 1), format);
    ASSERT_TRUE(deepest);
    EXPECT_EQ(formats::parsePlist(*deepest), nested(formats::kMaxPlistDepth - 1));
    EXPECT_FALSE(formats::serializePlist(nested(formats::kMaxPlistDepth), format));
  }
}

TEST(PlistScreenTest, SharedReferencesCountAsOftenAsTheyAreReached) {
  // 2^40 objects, a terabyte once read, from a few hundred bytes.
  auto bomb = testing::sharedReferenceBomb(40);
  EXPECT_LT(bomb.size(), 1024u);
  EXPECT_FALSE(formats::plistIsSafeToParse(bomb));
  EXPECT_FALSE(formats::parsePlist(bomb));
  // 2^21 objects: under the object limit, but far past what the file's size could hold.
  EXPECT_FALSE(formats::parsePlist(testing::sharedReferenceBomb(20)));
  // Under the object limit, but 10 MB of data from 14 kB.
  EXPECT_FALSE(formats::parsePlist(testing::repeatedDataPlist(10'000, 1'000)));

  // Sharing as real writers do it still reads: the same keys and values in many records.
  formats::Array records(2'000, formats::Value(formats::Dictionary{{"name", formats::Value("same")},
                                                                   {"count", formats::Value(7)}}));
  auto shared = formats::serializePlist(formats::Value(records), formats::PlistFormat::binary);
  ASSERT_TRUE(shared);
  EXPECT_EQ(formats::parsePlist(*shared), formats::Value(records));
  auto small = testing::repeatedDataPlist(16, 8);
  auto value = formats::parsePlist(small);
  ASSERT_TRUE(value && value->is<formats::Array>());
  EXPECT_EQ(value->get<formats::Array>()->size(), 8u);
}

TEST(PlistScreenTest, ObjectsStopAtTheObjectLimit) {
  std::string many = "<plist><array>";
  for (std::uint64_t i = 1; i < formats::kMaxPlistObjects; ++i) many += "<true/>";
  EXPECT_TRUE(formats::plistIsSafeToParse(many + "</array></plist>"));
  EXPECT_FALSE(formats::plistIsSafeToParse(many + "<true/></array></plist>"));
}

TEST(PlistScreenTest, AnObjectHoldingItselfIsRefused) {
  EXPECT_FALSE(formats::plistIsSafeToParse(testing::cyclicBinaryPlist()));
  EXPECT_FALSE(formats::parsePlist(testing::cyclicBinaryPlist()));
}

TEST(PlistScreenTest, XmlMarkupCannotHideTagsFromTheScreen) {
  std::string header =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";
  EXPECT_EQ(formats::parsePlist(header + "<plist version=\"1.0\"><!-- a > b --><dict><key>k</key>"
                                         "<string>v</string></dict></plist>"),
            formats::Value(formats::Dictionary{{"k", formats::Value("v")}}));
  for (std::string hidden : {
           "<plist><!-- <array> --><true/></plist>",
           "<plist><array a=\"/></array>\"><true/></array></plist>",
           "<plist><array></dict></plist>",
           "<plist><array><true/></plist>",
           "<!DOCTYPE plist [<!ENTITY e \"x\">]><plist><true/></plist>",
       })
    EXPECT_FALSE(formats::plistIsSafeToParse(hidden)) << hidden;
}

TEST(PlistScreenTest, OnlyTheBinaryVersionTheReaderKnowsIsRead) {
  auto plist = *formats::serializePlist(formats::Value(formats::Array{formats::Value(1)}),
                                        formats::PlistFormat::binary);
  EXPECT_TRUE(formats::plistIsSafeToParse(plist));
  plist[7] = '1';
  EXPECT_FALSE(formats::plistIsSafeToParse(plist));
}

}  // namespace
}  // namespace quorin::platform::posix
