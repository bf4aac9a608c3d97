#include "platform/redis/resp_screen.hpp"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace quorin::platform::redis {
namespace {

constexpr std::uint64_t kLargestNumber = std::numeric_limits<std::int64_t>::max();

std::string byteName(char c) {
  char name[8];
  std::snprintf(name, sizeof name, "0x%02x", static_cast<unsigned char>(c));
  return name;
}

}  // namespace

bool RespScreen::take(std::string_view bytes) {
  if (!problem_.empty()) return false;
  while (!bytes.empty()) {
    if (state_ == State::string) {  // counted against the limits when announced
      auto taken = std::min(stringLeft_, bytes.size());
      replyBytes_ += taken;
      stringLeft_ -= taken;
      bytes.remove_prefix(taken);
      if (stringLeft_ == 0) state_ = State::stringEnd;
      continue;
    }
    if (++replyBytes_ > limits_.replyBytes)
      return fail("the server's reply is longer than " + std::to_string(limits_.replyBytes) +
                  " bytes, more than this connection takes");
    char c = bytes.front();
    bytes.remove_prefix(1);
    if (!step(c)) return false;
  }
  return true;
}

bool RespScreen::step(char c) {
  switch (state_) {
    case State::type:
      if (c == '+' || c == '-') return (state_ = State::line, true);
      if (c == ':') return startNumber(Number::integer);
      if (c == '$') return startNumber(Number::stringLength);
      if (c == '*') return startNumber(Number::arrayCount);
      return fail(
          "the server's reply is not in Redis's protocol (RESP2): a reply cannot start "
          "with the byte " +
          byteName(c));
    case State::line:
      if (c == '\r') state_ = State::lineEnd;
      return c != '\n' || fail("the server's reply has a line feed inside a line");
    case State::lineEnd:
      if (c != '\n') return fail("the server's reply has a carriage return inside a line");
      return (elementEnded(), true);
    case State::number:
      return numberDigit(c);
    case State::numberEnd:
      return c == '\n' ? numberEnded()
                       : fail("the server's reply has a carriage return inside a number");
    case State::stringEnd:
      if (c != '\r') return fail("the server's reply has a string longer than it announced");
      return (state_ = State::stringLineFeed, true);
    case State::stringLineFeed:
      if (c != '\n') return fail("the server's reply has a string not ended by CR LF");
      return (elementEnded(), true);
    case State::string:
      break;
  }
  return fail("the reply's screen lost its place");
}

bool RespScreen::startNumber(Number kind) {
  state_ = State::number;
  number_ = kind;
  negative_ = false;
  digits_ = 0;
  value_ = 0;
  return true;
}

bool RespScreen::numberDigit(char c) {
  if (c == '-' && digits_ == 0 && !negative_) return (negative_ = true);
  if (c == '\r' && digits_ > 0) return (state_ = State::numberEnd, true);
  if (c < '0' || c > '9')
    return fail("the server's reply has the byte " + byteName(c) + " where a number was due");
  if (digits_ > 0 && value_ == 0)
    return fail("the server's reply has a number with a leading zero");
  auto digit = static_cast<std::uint64_t>(c - '0');
  if (value_ > (kLargestNumber - digit) / 10)
    return fail("the server's reply has a number past 64 bits");
  value_ = value_ * 10 + digit;
  ++digits_;
  return true;
}

// Numbers are as hiredis reads them: no sign but a minus, no leading zero, no -0.
bool RespScreen::numberEnded() {
  if (negative_ && value_ == 0) return fail("the server's reply has the number -0");
  auto value = static_cast<std::int64_t>(value_);
  if (negative_) value = -value;
  switch (number_) {
    case Number::integer:
      return (elementEnded(), true);
    case Number::stringLength:
      return stringAnnounced(value);
    case Number::arrayCount:
      return arrayAnnounced(value);
  }
  return false;
}

bool RespScreen::stringAnnounced(std::int64_t length) {
  if (length == -1) return (elementEnded(), true);  // nil
  if (length < 0) return fail("the server's reply announces a string of negative length");
  auto size = static_cast<std::uint64_t>(length);
  if (size > limits_.stringBytes)
    return fail("the server's reply announces a string of " + std::to_string(size) +
                " bytes, more than the " + std::to_string(limits_.stringBytes) +
                " this connection takes");
  if (replyBytes_ + size + 2 > limits_.replyBytes)
    return fail("the server's reply would be longer than " + std::to_string(limits_.replyBytes) +
                " bytes, more than this connection takes");
  stringLeft_ = static_cast<std::size_t>(size);
  state_ = size == 0 ? State::stringEnd : State::string;
  return true;
}

// hiredis counts nil and empty arrays in its nesting too.
bool RespScreen::arrayAnnounced(std::int64_t count) {
  if (elementsLeft_.size() >= limits_.depth)
    return fail("the server's reply nests arrays more than " + std::to_string(limits_.depth) +
                " deep, deeper than this connection takes");
  if (count == -1 || count == 0) return (elementEnded(), true);
  if (count < 0) return fail("the server's reply announces an array of negative length");
  if (static_cast<std::uint64_t>(count) > limits_.elements)
    return fail("the server's reply announces an array of " + std::to_string(count) +
                " elements, more than the " + std::to_string(limits_.elements) +
                " this connection takes");
  elementsLeft_.push_back(static_cast<std::size_t>(count));
  state_ = State::type;
  return true;
}

void RespScreen::elementEnded() {
  state_ = State::type;
  while (!elementsLeft_.empty()) {
    if (--elementsLeft_.back() > 0) return;
    elementsLeft_.pop_back();
  }
  ++replies_;
  replyBytes_ = 0;
}

bool RespScreen::fail(std::string why) {
  problem_ = std::move(why);
  return false;
}

}  // namespace quorin::platform::redis
