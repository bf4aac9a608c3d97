// What a message may quote of text it does not control: short, and harmless to a terminal.
#include "formats/excerpt.hpp"

#include <gtest/gtest.h>

#include <string>

namespace quorin::platform {
namespace {

TEST(ExcerptTest, PlainTextPassesAsItIs) {
  EXPECT_EQ(formats::excerpt("WRONGPASS invalid username-password pair"),
            "WRONGPASS invalid username-password pair");
  EXPECT_EQ(formats::excerpt("déjà vu, 東京, 🙂"), "déjà vu, 東京, 🙂");
  EXPECT_EQ(formats::excerpt(""), "");
}

TEST(ExcerptTest, ControlCharactersAndBytesThatAreNotUtf8AreEscaped) {
  EXPECT_EQ(formats::excerpt("\x1b[2J\x1b]0;owned\x07"), "\\x1b[2J\\x1b]0;owned\\x07");
  EXPECT_EQ(formats::excerpt(std::string("a\0b", 3)), "a\\x00b");
  EXPECT_EQ(formats::excerpt("line\r\nnext\ttab"), "line\\r\\nnext\\ttab");
  EXPECT_EQ(formats::excerpt("\x7f"), "\\x7f");
  EXPECT_EQ(formats::excerpt("\xc2\x9b"
                             "31m"),
            "\\u009b31m")
      << "a C1 control starts a sequence too";
  EXPECT_EQ(formats::excerpt("\xc2\xa0"), "\xc2\xa0") << "past the C1 controls";
  EXPECT_EQ(formats::excerpt("a\xff"
                             "b\xc3"),
            "a\\xffb\\xc3");
  EXPECT_EQ(formats::excerpt("\xed\xa0\x80"), "\\xed\\xa0\\x80") << "a surrogate, byte by byte";
  EXPECT_EQ(formats::excerpt("back\\slash"), "back\\\\slash")
      << "so that an escape cannot be forged";
}

TEST(ExcerptTest, LongTextIsCutAtTheLimitAndSaysSo) {
  std::string huge(50 * 1024 * 1024, 'e');
  auto cut = formats::excerpt(huge);
  EXPECT_EQ(cut.size(), formats::kExcerptBytes);
  EXPECT_EQ(cut, std::string(formats::kExcerptBytes - 3, 'e') + "...");
  EXPECT_EQ(formats::excerpt(std::string(10, 'x'), 10), std::string(10, 'x')) << "exactly fits";
  EXPECT_EQ(formats::excerpt(std::string(11, 'x'), 10), std::string(7, 'x') + "...");
}

TEST(ExcerptTest, EscapesCountTowardsTheLimitAndAreNeverCutInTwo) {
  EXPECT_EQ(formats::excerpt(std::string(100, '\x1b'), 10), "\\x1b...");
  EXPECT_EQ(formats::excerpt("ab" + std::string(10, '\x07'), 10), "ab\\x07...");
  EXPECT_EQ(formats::excerpt("abc東京xyz", 8), "abc...") << "a character is never cut in two";
  for (std::size_t limit = 0; limit < 40; ++limit) {
    auto cut = formats::excerpt(std::string(30, '\x01') + "\xe6\x9d\xb1", limit);
    EXPECT_LE(cut.size(), limit) << limit;
  }
}

}  // namespace
}  // namespace quorin::platform
