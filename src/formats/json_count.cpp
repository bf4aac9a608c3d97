#include "formats/json_count.hpp"

#include <array>

#include "formats/json.hpp"

namespace quorin::platform {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isSpace(char c) {
  return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

// Characters that change nothing the counter follows: in a string, all but its quote and
// backslash; inside a container, all but brackets, quotes and commas.
constexpr std::array<bool, 256> inertBut(std::string_view followed) {
  std::array<bool, 256> inert{};
  inert.fill(true);
  for (char c : followed) inert[static_cast<unsigned char>(c)] = false;
  return inert;
}
constexpr auto kInertInString = inertBut("\"\\");
constexpr auto kInertInContainer = inertBut("\"{}[],");

}  // namespace

// The common states, inside a string or a container, are taken here in a tight loop: an output
// file can be hundreds of megabytes. take() has the rest.
void JsonCounter::feed(std::string_view piece) {
  const auto* at = reinterpret_cast<const unsigned char*>(piece.data());
  const auto* end = at + piece.size();
  while (at < end && !broken_) {
    if (inString_ && !escaped_) {
      while (at < end && kInertInString[*at]) ++at;
      if (at == end) break;
      if (*at++ == '\\')
        escaped_ = true;
      else
        inString_ = false;
    } else if (!inString_ && (closers_.size() > 1 || (closers_.size() == 1 && !empty_))) {
      while (at < end && kInertInContainer[*at]) ++at;
      if (at == end) break;
      takeStructure(static_cast<char>(*at++));
    } else {
      take(static_cast<char>(*at++));
    }
  }
}

void JsonCounter::take(char c) {
  if (inString_) {
    if (escaped_) {
      escaped_ = false;
    } else if (c == '\\') {
      escaped_ = true;
    } else if (c == '"') {
      inString_ = false;
    }
    return;
  }
  bool started = !closers_.empty() || closed_;
  if (!started && markBytes_ < kByteOrderMark.size() && c == kByteOrderMark[markBytes_]) {
    ++markBytes_;
    return;
  }
  if (isSpace(c)) return;
  if (closed_ || (!started && c != '{' && c != '[')) {
    broken_ = true;
    return;
  }
  if (!started) isObject_ = c == '{';
  if (closers_.size() == 1 && c != closers_.back()) empty_ = false;
  takeStructure(c);
}

void JsonCounter::takeStructure(char c) {
  switch (c) {
    case '"':
      inString_ = true;
      break;
    case '{':
    case '[':
      broken_ = closers_.size() >= static_cast<std::size_t>(kMaxJsonDepth);
      closers_.push_back(c == '{' ? '}' : ']');
      break;
    case '}':
    case ']':
      broken_ = c != closers_.back();
      closers_.pop_back();
      closed_ = closers_.empty();
      break;
    case ',':
      if (closers_.size() == 1) ++commas_;
      break;
    default:
      break;
  }
}

std::optional<JsonCount> JsonCounter::finish() const {
  if (broken_ || !closed_ || (markBytes_ != 0 && markBytes_ != kByteOrderMark.size()))
    return std::nullopt;
  return JsonCount{isObject_, empty_ ? 0 : commas_ + 1};
}

}  // namespace quorin::platform
