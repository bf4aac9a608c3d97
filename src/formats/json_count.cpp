#include "formats/json_count.hpp"

#include "formats/json.hpp"

namespace quorin::platform {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isSpace(char c) {
  return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

}  // namespace

void JsonCounter::feed(std::string_view piece) {
  for (char c : piece) {
    if (broken_) return;
    take(c);
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
