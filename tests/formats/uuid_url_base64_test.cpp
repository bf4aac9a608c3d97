#include <gtest/gtest.h>

#include "formats/base64.hpp"
#include "formats/url.hpp"
#include "formats/uuid.hpp"

namespace quorin::platform {
namespace {

TEST(UuidTest, TextFormRoundTripsAndRejectsNonCanonicalText) {
  auto uuid = formats::Uuid::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
  ASSERT_TRUE(uuid);
  EXPECT_EQ(uuid->bytes[0], 0xE6);
  EXPECT_EQ(uuid->bytes[15], 0x5F);
  EXPECT_EQ(uuid->uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  EXPECT_EQ(formats::Uuid{}.uuidString(), "00000000-0000-0000-0000-000000000000");
  for (auto bad :
       {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
        "G621E1F8-C36C-495A-93FC-0C247A3E6E5F", "E621E1F8-C36C-495A-93FC+0C247A3E6E5F"}) {
    EXPECT_FALSE(formats::Uuid::fromString(bad)) << bad;
  }
}

TEST(Base64Test, EncodesWithPadding) {
  auto encode = [](std::string_view text) {
    return formats::base64Encode({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  };
  EXPECT_EQ(encode(""), "");
  EXPECT_EQ(encode("f"), "Zg==");
  EXPECT_EQ(encode("fo"), "Zm8=");
  EXPECT_EQ(encode("foo"), "Zm9v");
  EXPECT_EQ(encode("foob"), "Zm9vYg==");
  const std::uint8_t high[] = {0xFB, 0xFF, 0xBF};
  EXPECT_EQ(formats::base64Encode(high), "+/+/");
}

TEST(UrlTest, KeepsTextAndFindsTheScheme) {
  auto url = formats::Url::fromString("FB://profile?id=1#top");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->text, "FB://profile?id=1#top");
  EXPECT_EQ(url->scheme, "fb");
  EXPECT_EQ(formats::Url::fromString("fb:")->scheme, "fb");
  EXPECT_EQ(formats::Url::fromString("mailto:a@b.c")->scheme, "mailto");
  // Relative references are URLs without a scheme.
  EXPECT_EQ(formats::Url::fromString("fb")->scheme, "");
  EXPECT_EQ(formats::Url::fromString("/a:b")->scheme, "");
  EXPECT_EQ(formats::Url::fromString("1fb://x")->scheme, "");
  EXPECT_EQ(formats::Url::fromString("%41")->text, "%41");
}

TEST(UrlTest, HostAndPortComeFromTheAuthority) {
  auto full = formats::Url::fromString("https://user:pw@example.com:8443/path?q#f");
  EXPECT_EQ(full->host, "example.com");
  EXPECT_EQ(full->port, 8443);
  auto plain = formats::Url::fromString("https://example.com/a:b");
  EXPECT_EQ(plain->host, "example.com");
  EXPECT_EQ(plain->port, std::nullopt);
  EXPECT_EQ(formats::Url::fromString("http://[::1]:80/")->host, "[::1]");
  EXPECT_EQ(formats::Url::fromString("http://[::1]/")->port, std::nullopt);
  EXPECT_EQ(formats::Url::fromString("mailto:a@b.c")->host, std::nullopt);
  EXPECT_EQ(formats::Url::fromString("example.com")->host, std::nullopt);
  EXPECT_EQ(formats::Url::fromString("//example.com:21")->port, 21);
  EXPECT_EQ(formats::Url::fromString("http://h:99999999999/")->port, std::nullopt);
}

TEST(UrlTest, RejectsTextOutsideTheUrlAlphabet) {
  for (auto bad : {"", "not a url", "fb://<x>", "fb://%4", "fb://%zz", "fb://a#b#c",
                   "caf\xC3\xA9:", "a\"b", "fb://\\x", "x{y}"}) {
    EXPECT_FALSE(formats::Url::fromString(bad)) << bad;
  }
}

}  // namespace
}  // namespace quorin::platform
