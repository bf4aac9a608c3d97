#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorin::platform::redis {

// What one connection takes from its server in one reply.
struct RespLimits {
  std::size_t replyBytes;   // the whole reply, its framing included
  std::size_t stringBytes;  // one bulk string
  std::size_t elements;     // one array
  std::size_t depth;        // arrays within arrays: 1 allows flat arrays only

  bool operator==(const RespLimits&) const = default;
};

// The server's bytes, checked as they arrive and before hiredis's reader takes them: that
// reader keeps every byte until a reply ends and allocates whatever an array announces,
// with no limit of its own. Passes only the five types of Redis's protocol (RESP2), well
// framed and within the limits, however the bytes are cut into pieces; what it refuses
// ends the stream's use.
class RespScreen {
 public:
  explicit RespScreen(const RespLimits& limits) : limits_(limits) {}

  // False when `bytes` break the protocol or a limit; problem() then says how.
  bool take(std::string_view bytes);

  const std::string& problem() const { return problem_; }
  // The replies that have ended so far.
  std::uint64_t replies() const { return replies_; }
  // Whether a reply has begun and not yet ended.
  bool midReply() const { return replyBytes_ > 0; }

 private:
  enum class State { type, line, lineEnd, number, numberEnd, string, stringEnd, stringLineFeed };
  enum class Number { integer, stringLength, arrayCount };

  bool step(char c);
  bool startNumber(Number kind);
  bool numberDigit(char c);
  bool numberEnded();
  bool stringAnnounced(std::int64_t length);
  bool arrayAnnounced(std::int64_t count);
  void elementEnded();
  bool fail(std::string why);

  RespLimits limits_;
  State state_ = State::type;
  Number number_ = Number::integer;
  bool negative_ = false;
  int digits_ = 0;
  std::uint64_t value_ = 0;
  std::size_t stringLeft_ = 0;
  std::vector<std::size_t> elementsLeft_;  // one per array open, innermost last
  std::size_t replyBytes_ = 0;
  std::uint64_t replies_ = 0;
  std::string problem_;
};

}  // namespace quorin::platform::redis
