#include "formats/plist_codec.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>

namespace quorin::platform::posix {
namespace {

Value sample() {
  return Value(Dictionary{
      {"bool", Value(true)},
      {"int", Value(std::int64_t{-42})},
      {"big", Value(std::int64_t{1} << 40)},
      {"real", Value(2.5)},
      {"text", Value("h\xC3\xA9llo")},
      {"data", Value(Data{0, 1, 255})},
      {"date", Value(Date{1700000000})},
      {"list", Value(Array{Value(1), Value("two"), Value(Dictionary{})})},
  });
}

TEST(PlistCodecTest, RoundTripsEveryTypeInBothFormats) {
  for (auto format : {PlistFormat::binary, PlistFormat::xml}) {
    auto bytes = serializePlist(sample(), format);
    ASSERT_TRUE(bytes);
    auto back = parsePlist(*bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, sample()) << (format == PlistFormat::binary ? "binary" : "xml");
  }
  EXPECT_EQ(serializePlist(sample(), PlistFormat::binary)->substr(0, 8), "bplist00");
}

TEST(PlistCodecTest, BinaryDatesKeepFractionsXmlDatesWholeSeconds) {
  Value date(Date{1700000000.25});
  EXPECT_EQ(*parsePlist(*serializePlist(date, PlistFormat::binary)), date);
  EXPECT_EQ(*parsePlist(*serializePlist(date, PlistFormat::xml)), Value(Date{1700000000}));

  // Before 2001 the fraction counts down from the second.
  for (double seconds : {631152000.5, 978307198.25, 978307200.0 - 188672.857789, 0.0}) {
    auto back = parsePlist(*serializePlist(Value(Date{seconds}), PlistFormat::binary));
    ASSERT_TRUE(back && back->is<Date>());
    EXPECT_NEAR(back->get<Date>()->secondsSince1970, seconds, 2e-6) << std::fixed << seconds;
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
    EXPECT_EQ(parsePlist(binaryDate(since2001 + 0.5)), Value(Date{seconds + 0.5})) << text;
    EXPECT_EQ(parsePlist(xmlPlist("<date>" + std::string(text) + "</date>")), Value(Date{seconds}))
        << text;

    Value date(Dictionary{{"when", Value(Date{seconds + 0.5})}});
    EXPECT_EQ(parsePlist(*serializePlist(date, PlistFormat::binary)), date) << text;
    auto xml = *serializePlist(date, PlistFormat::xml);
    EXPECT_NE(xml.find(text), std::string::npos) << xml;
    EXPECT_EQ(parsePlist(xml), Value(Dictionary{{"when", Value(Date{seconds})}})) << text;
  }
  // XML keeps the second an instant falls in, before 2001 as after.
  EXPECT_EQ(parsePlist(*serializePlist(Value(Date{-0.25}), PlistFormat::xml)), Value(Date{-1}));
}

TEST(PlistCodecTest, IntegersPastTheSignedRangeStayUnsigned) {
  const Value largest(std::numeric_limits<std::uint64_t>::max());
  const Value minusOne(std::int64_t{-1});
  EXPECT_TRUE(largest.is<std::uint64_t>());
  EXPECT_EQ(Value(std::uint64_t{7}), Value(7)) << "unsigned only where signed cannot hold it";

  EXPECT_EQ(parsePlist(xmlPlist("<integer>18446744073709551615</integer>")), largest);
  EXPECT_EQ(parsePlist(xmlPlist("<integer>-1</integer>")), minusOne);
  std::string binary = "bplist00\x14" + std::string(8, '\0') + std::string(8, '\xFF');
  binary += "\x08" + std::string(6, '\0') + "\x01\x01";
  binary += std::string(7, '\0') + "\x01" + std::string(8, '\0') + std::string(7, '\0') + "\x19";
  EXPECT_EQ(parsePlist(binary), largest);

  Value both(Array{largest, minusOne, Value(std::uint64_t{1} << 63)});
  for (auto format : {PlistFormat::binary, PlistFormat::xml})
    EXPECT_EQ(parsePlist(*serializePlist(both, format)), both);
}

TEST(PlistCodecTest, RefusesWhatAPropertyListCannotHold) {
  EXPECT_FALSE(serializePlist(Value(), PlistFormat::xml));
  EXPECT_FALSE(serializePlist(Value(Array{Value(Null{})}), PlistFormat::binary));
  EXPECT_FALSE(serializePlist(Value(std::string("a\0b", 3)), PlistFormat::xml));
  EXPECT_FALSE(serializePlist(Value("caf\xE9"), PlistFormat::binary)) << "not UTF-8";
  EXPECT_FALSE(serializePlist(Value(Dictionary{{"\xFFkey", Value(1)}}), PlistFormat::binary));
  EXPECT_FALSE(serializePlist(Value(Date{1e300}), PlistFormat::binary));
  EXPECT_FALSE(serializePlist(Value(Date{253402300800.0}), PlistFormat::xml)) << "year 10000";
}

TEST(PlistCodecTest, DamagedInputReadsAsNothing) {
  auto bytes = *serializePlist(sample(), PlistFormat::binary);
  for (std::size_t cut : {std::size_t{0}, std::size_t{8}, bytes.size() / 2, bytes.size() - 1}) {
    EXPECT_FALSE(parsePlist(std::string_view(bytes).substr(0, cut))) << cut;
  }
  EXPECT_FALSE(parsePlist("not a plist"));
  EXPECT_FALSE(parsePlist("<?xml version=\"1.0\"?><plist><dict><key>a</key>"));
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
  auto value = parsePlist(binaryDictionary("a"));
  ASSERT_TRUE(value);
  EXPECT_TRUE(value->find("a")->is<std::string>());
  // The platform's reader aborts the process on such keys; they must never reach it.
  EXPECT_FALSE(parsePlist(binaryDictionary(std::string("a\0b", 3))));
  EXPECT_FALSE(parsePlist("<plist><dict><key>a&#0;</key><true/></dict></plist>"));
  EXPECT_FALSE(parsePlist(std::string("<plist><dict><key>a\0</key><true/></dict></plist>", 45)));
}

}  // namespace
}  // namespace quorin::platform::posix
