#include "formats/plist_codec.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>

namespace quorin::platform::posix {
namespace {

formats::Value sample() {
  return formats::Value(formats::Dictionary{
      {"bool", formats::Value(true)},
      {"int", formats::Value(std::int64_t{-42})},
      {"big", formats::Value(std::int64_t{1} << 40)},
      {"real", formats::Value(2.5)},
      {"text", formats::Value("h\xC3\xA9llo")},
      {"data", formats::Value(formats::Data{0, 1, 255})},
      {"date", formats::Value(formats::Date{1700000000})},
      {"list", formats::Value(formats::Array{formats::Value(1), formats::Value("two"),
                                             formats::Value(formats::Dictionary{})})},
  });
}

TEST(PlistCodecTest, RoundTripsEveryTypeInBothFormats) {
  for (auto format : {formats::PlistFormat::binary, formats::PlistFormat::xml}) {
    auto bytes = formats::serializePlist(sample(), format);
    ASSERT_TRUE(bytes);
    auto back = formats::parsePlist(*bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, sample()) << (format == formats::PlistFormat::binary ? "binary" : "xml");
  }
  EXPECT_EQ(formats::serializePlist(sample(), formats::PlistFormat::binary)->substr(0, 8),
            "bplist00");
}

TEST(PlistCodecTest, BinaryDatesKeepFractionsXmlDatesWholeSeconds) {
  formats::Value date(formats::Date{1700000000.25});
  EXPECT_EQ(*formats::parsePlist(*formats::serializePlist(date, formats::PlistFormat::binary)),
            date);
  EXPECT_EQ(*formats::parsePlist(*formats::serializePlist(date, formats::PlistFormat::xml)),
            formats::Value(formats::Date{1700000000}));

  // Before 2001 the fraction counts down from the second.
  for (double seconds : {631152000.5, 978307198.25, 978307200.0 - 188672.857789, 0.0}) {
    auto back = formats::parsePlist(*formats::serializePlist(formats::Value(formats::Date{seconds}),
                                                             formats::PlistFormat::binary));
    ASSERT_TRUE(back && back->is<formats::Date>());
    EXPECT_NEAR(back->get<formats::Date>()->secondsSince1970, seconds, 2e-6)
        << std::fixed << seconds;
  }
}

// One date object as a binary list holds it: the marker, then a big-endian double of seconds
// since 2001.
std::string binaryDate(double secondsSince2001) {
  std::string bytes = "bplist00\x33";
  auto bits = std::bit_cast<std::uint64_t>(secondsSince2001);
  for (int shift = 56; shift >= 0; shift -= 8) bytes += static_cast<char>(bits >> shift);
  bytes += "\x08" + std::string(6, '\0') + "\x01\x01";
  bytes += std::string(7, '\0') + "\x01" + std::string(8, '\0') + std::string(7, '\0') + "\x11";
  return bytes;
}

std::string xmlPlist(std::string_view value) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">" + std::string(value) +
         "</plist>";
}

TEST(PlistCodecTest, DatesFarFrom2001KeepTheirInstant) {
  struct Case {
    std::string_view text;
    double seconds;
  };
  for (auto [text, seconds] :
       {Case{"2100-01-01T00:00:00Z", 4102444800.0}, Case{"1900-01-01T00:00:00Z", -2208988800.0},
        Case{"4001-01-01T00:00:00Z", 64092211200.0}}) {
    const double since2001 = seconds - 978307200.0;
    EXPECT_EQ(formats::parsePlist(binaryDate(since2001 + 0.5)),
              formats::Value(formats::Date{seconds + 0.5}))
        << text;
    EXPECT_EQ(formats::parsePlist(xmlPlist("<date>" + std::string(text) + "</date>")),
              formats::Value(formats::Date{seconds}))
        << text;

    formats::Value date(
        formats::Dictionary{{"when", formats::Value(formats::Date{seconds + 0.5})}});
    EXPECT_EQ(formats::parsePlist(*formats::serializePlist(date, formats::PlistFormat::binary)),
              date)
        << text;
    auto xml = *formats::serializePlist(date, formats::PlistFormat::xml);
    EXPECT_NE(xml.find(text), std::string::npos) << xml;
    EXPECT_EQ(formats::parsePlist(xml),
              formats::Value(formats::Dictionary{{"when", formats::Value(formats::Date{seconds})}}))
        << text;
  }
  // XML keeps the second an instant falls in, before 2001 as after.
  EXPECT_EQ(formats::parsePlist(*formats::serializePlist(formats::Value(formats::Date{-0.25}),
                                                         formats::PlistFormat::xml)),
            formats::Value(formats::Date{-1}));
}

TEST(PlistCodecTest, IntegersPastTheSignedRangeStayUnsigned) {
  const formats::Value largest(std::numeric_limits<std::uint64_t>::max());
  const formats::Value minusOne(std::int64_t{-1});
  EXPECT_TRUE(largest.is<std::uint64_t>());
  EXPECT_EQ(formats::Value(std::uint64_t{7}), formats::Value(7))
      << "unsigned only where signed cannot hold it";

  EXPECT_EQ(formats::parsePlist(xmlPlist("<integer>18446744073709551615</integer>")), largest);
  EXPECT_EQ(formats::parsePlist(xmlPlist("<integer>-1</integer>")), minusOne);
  std::string binary = "bplist00\x14" + std::string(8, '\0') + std::string(8, '\xFF');
  binary += "\x08" + std::string(6, '\0') + "\x01\x01";
  binary += std::string(7, '\0') + "\x01" + std::string(8, '\0') + std::string(7, '\0') + "\x19";
  EXPECT_EQ(formats::parsePlist(binary), largest);

  formats::Value both(formats::Array{largest, minusOne, formats::Value(std::uint64_t{1} << 63)});
  for (auto format : {formats::PlistFormat::binary, formats::PlistFormat::xml})
    EXPECT_EQ(formats::parsePlist(*formats::serializePlist(both, format)), both);
}

TEST(PlistCodecTest, RefusesWhatAPropertyListCannotHold) {
  EXPECT_FALSE(formats::serializePlist(formats::Value(), formats::PlistFormat::xml));
  EXPECT_FALSE(
      formats::serializePlist(formats::Value(formats::Array{formats::Value(formats::Null{})}),
                              formats::PlistFormat::binary));
  EXPECT_FALSE(
      formats::serializePlist(formats::Value(std::string("a\0b", 3)), formats::PlistFormat::xml));
  EXPECT_FALSE(formats::serializePlist(formats::Value("caf\xE9"), formats::PlistFormat::binary))
      << "not UTF-8";
  EXPECT_FALSE(
      formats::serializePlist(formats::Value(formats::Dictionary{{"\xFFkey", formats::Value(1)}}),
                              formats::PlistFormat::binary));
  EXPECT_FALSE(
      formats::serializePlist(formats::Value(formats::Date{1e300}), formats::PlistFormat::binary));
  EXPECT_FALSE(formats::serializePlist(formats::Value(formats::Date{253402300800.0}),
                                       formats::PlistFormat::xml))
      << "year 10000";
}

TEST(PlistCodecTest, DamagedInputReadsAsNothing) {
  auto bytes = *formats::serializePlist(sample(), formats::PlistFormat::binary);
  for (std::size_t cut : {std::size_t{0}, std::size_t{8}, bytes.size() / 2, bytes.size() - 1}) {
    EXPECT_FALSE(formats::parsePlist(std::string_view(bytes).substr(0, cut))) << cut;
  }
  EXPECT_FALSE(formats::parsePlist("not a plist"));
  EXPECT_FALSE(formats::parsePlist("<?xml version=\"1.0\"?><plist><dict><key>a</key>"));
}

// A one-entry dictionary {key: "x\0y"}, written by hand: the writers here refuse NULs.
std::string binaryDictionary(std::string_view key) {
  std::string bytes = "bplist00";
  bytes += "\xD1\x01\x02";
  bytes += static_cast<char>(0x50 | key.size());
  bytes += key;
  std::size_t valueOffset = bytes.size();
  bytes += std::string("\x53x\0y", 4);
  std::size_t table = bytes.size();
  bytes += {'\x08', '\x0B', static_cast<char>(valueOffset)};
  bytes += std::string(6, '\0') + "\x01\x01";
  bytes += std::string(7, '\0') + "\x03" + std::string(8, '\0') + std::string(7, '\0');
  bytes += static_cast<char>(table);
  return bytes;
}

TEST(PlistCodecTest, NulInAKeyRejectsTheFile) {
  auto value = formats::parsePlist(binaryDictionary("a"));
  ASSERT_TRUE(value);
  EXPECT_TRUE(value->find("a")->is<std::string>());
  // The platform's reader aborts the process on such keys; they must never reach it.
  EXPECT_FALSE(formats::parsePlist(binaryDictionary(std::string("a\0b", 3))));
  EXPECT_FALSE(formats::parsePlist("<plist><dict><key>a&#0;</key><true/></dict></plist>"));
  EXPECT_FALSE(
      formats::parsePlist(std::string("<plist><dict><key>a\0</key><true/></dict></plist>", 45)));
}

}  // namespace
}  // namespace quorin::platform::posix
