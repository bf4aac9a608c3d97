// The screen in front of hiredis's reader: what it passes, however the bytes are cut, and
// what it refuses, at the first byte that breaks a limit or the protocol.
#include "platform/redis/resp_screen.hpp"

#include <gtest/gtest.h>

#include <string>

namespace quorin::platform::redis {
namespace {

constexpr RespLimits kRoomy{.replyBytes = 1000, .stringBytes = 100, .elements = 10, .depth = 3};

// Several replies of every type, nil and empty ones, a nested array and a string holding
// the protocol's own framing.
const std::string kReplies =
    "+OK\r\n-ERR no\r\n:-42\r\n:0\r\n$5\r\nhello\r\n$0\r\n\r\n$-1\r\n*-1\r\n*0\r\n"
    "*3\r\n:1\r\n*2\r\n$4\r\n\r\n*1\r\n+x\r\n$-1\r\n$2\r\n:)\r\n";
constexpr std::uint64_t kReplyCount = 11;

std::string refusal(const std::string& bytes, const RespLimits& limits = kRoomy) {
  RespScreen screen(limits);
  return screen.take(bytes) ? "" : screen.problem();
}

TEST(RespScreenTest, CountsEveryReplyWhereverTheBytesAreCut) {
  for (std::size_t cut = 0; cut <= kReplies.size(); ++cut) {
    RespScreen screen(kRoomy);
    ASSERT_TRUE(screen.take(kReplies.substr(0, cut))) << cut << ": " << screen.problem();
    ASSERT_TRUE(screen.take(kReplies.substr(cut))) << cut << ": " << screen.problem();
    EXPECT_EQ(screen.replies(), kReplyCount) << cut;
    EXPECT_FALSE(screen.midReply()) << cut;
  }
}

TEST(RespScreenTest, TakesTheBytesOneAtATime) {
  RespScreen screen(kRoomy);
  std::uint64_t ended = 0;
  for (char c : kReplies) {
    ASSERT_TRUE(screen.take(std::string_view(&c, 1))) << screen.problem();
    if (screen.replies() > ended) {
      EXPECT_FALSE(screen.midReply()) << "a reply that ended is not under way";
      ended = screen.replies();
    } else {
      EXPECT_TRUE(screen.midReply());
    }
  }
  EXPECT_EQ(ended, kReplyCount);
}

TEST(RespScreenTest, AReplyIsUnderWayFromItsFirstByteToItsLast) {
  RespScreen screen(kRoomy);
  EXPECT_FALSE(screen.midReply());
  ASSERT_TRUE(screen.take("*2\r\n:1\r\n"));
  EXPECT_TRUE(screen.midReply());
  ASSERT_TRUE(screen.take(":2\r\n+"));
  EXPECT_EQ(screen.replies(), 1u);
  EXPECT_TRUE(screen.midReply()) << "the next reply has begun";
  ASSERT_TRUE(screen.take("OK\r\n"));
  EXPECT_EQ(screen.replies(), 2u);
  EXPECT_FALSE(screen.midReply());
}

// The limits hold at their edge: a reply exactly as large as allowed passes, one byte more
// does not, and an announced size is refused before its bytes arrive.
TEST(RespScreenTest, AReplyMayBeAsLargeAsTheLimitAndNoLarger) {
  constexpr RespLimits tight{.replyBytes = 12, .stringBytes = 5, .elements = 2, .depth = 1};
  EXPECT_EQ(refusal("$5\r\nhello\r\n", tight), "");                    // 11 bytes
  EXPECT_EQ(refusal("+" + std::string(9, 'a') + "\r\n", tight), "");   // 12 bytes
  EXPECT_NE(refusal("+" + std::string(10, 'a') + "\r\n", tight), "");  // 13 bytes
  EXPECT_NE(refusal("+" + std::string(12, 'a'), tight).find("longer than 12 bytes"),
            std::string::npos)
      << "refused as soon as the line passes the limit, not at its end";
  EXPECT_NE(refusal("$6\r\n", tight).find("a string of 6 bytes, more than the 5"),
            std::string::npos);
  EXPECT_NE(refusal("$1000000000\r\n", kRoomy).find("1000000000 bytes"), std::string::npos);
  EXPECT_EQ(refusal("*2\r\n:1\r\n:2\r\n", tight), "");
  EXPECT_NE(refusal("*3\r\n", tight).find("an array of 3 elements, more than the 2"),
            std::string::npos);
  EXPECT_NE(refusal("*2147483648\r\n", kRoomy).find("2147483648 elements"), std::string::npos);
}

TEST(RespScreenTest, AnnouncedStringsMustFitWhatIsLeftOfTheReply) {
  constexpr RespLimits limits{.replyBytes = 21, .stringBytes = 20, .elements = 4, .depth = 1};
  EXPECT_EQ(refusal("*1\r\n$10\r\n0123456789\r\n", limits), "");  // 21 bytes
  EXPECT_NE(refusal("*1\r\n$11\r\n", limits).find("would be longer than 21 bytes"),
            std::string::npos);
}

TEST(RespScreenTest, TheLimitsApplyToEachReplyAlone) {
  constexpr RespLimits limits{.replyBytes = 5, .stringBytes = 5, .elements = 2, .depth = 1};
  RespScreen screen(limits);
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(screen.take("+OK\r\n")) << screen.problem();
  EXPECT_EQ(screen.replies(), 100u);
}

TEST(RespScreenTest, NestingDeeperThanAllowedIsRefusedNilAndEmptyArraysToo) {
  constexpr RespLimits flat{.replyBytes = 100, .stringBytes = 10, .elements = 4, .depth = 1};
  EXPECT_EQ(refusal("*2\r\n:1\r\n:2\r\n", flat), "");
  for (const char* nested : {"*1\r\n*1\r\n:1\r\n", "*1\r\n*0\r\n", "*1\r\n*-1\r\n"})
    EXPECT_NE(refusal(nested, flat).find("nests arrays more than 1 deep"), std::string::npos)
        << nested;
  EXPECT_EQ(refusal("*1\r\n*1\r\n*1\r\n:1\r\n", kRoomy), "");
  EXPECT_NE(refusal("*1\r\n*1\r\n*1\r\n*1\r\n:1\r\n", kRoomy).find("more than 3 deep"),
            std::string::npos);
}

TEST(RespScreenTest, WhatIsNotRedisProtocolIsRefusedAtItsFirstByte) {
  for (const std::string& alien :
       std::vector<std::string>{"%1\r\n", "HTTP/1.1 200 OK\r\n", std::string("\x16\x03\x01", 3),
                                std::string("\0", 1), "_\r\n", "#t\r\n"}) {
    auto problem = refusal(alien);
    EXPECT_NE(problem.find("not in Redis's protocol (RESP2)"), std::string::npos) << problem;
  }
}

TEST(RespScreenTest, MalformedFramingIsRefused) {
  for (const char* malformed :
       {"$abc\r\n",       "$\r\n",         "$-2\r\n",      "*-5\r\n",
        ":12a\r\n",       ":--1\r\n",      ":1-\r\n",      ":99999999999999999999\r\n",
        "$3\r\nabcd\r\n", "$3\r\nabc\n\n", "+a\nb\r\n",    "+a\rb\r\n",
        ":1\r\r\n",       "$1\r\na\rX",    ":-0\r\n",      "*-0\r\n",
        "$-0\r\n",        ":01\r\n",       "$01\r\na\r\n", ":+5\r\n",
        ": 1\r\n"}) {
    EXPECT_NE(refusal(malformed), "") << malformed;
  }
  EXPECT_EQ(refusal(":9223372036854775807\r\n"), "");
  EXPECT_EQ(refusal(":-9223372036854775807\r\n"), "");
  EXPECT_NE(refusal(":9223372036854775808\r\n"), "");
}

TEST(RespScreenTest, ARefusalLasts) {
  RespScreen screen(kRoomy);
  ASSERT_FALSE(screen.take("%"));
  auto problem = screen.problem();
  EXPECT_FALSE(screen.take("+OK\r\n"));
  EXPECT_EQ(screen.problem(), problem);
  EXPECT_EQ(screen.replies(), 0u);
}

}  // namespace
}  // namespace quorin::platform::redis
