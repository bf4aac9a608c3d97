#include "formats/json_count.hpp"

#include <array>

#include "formats/json.hpp"

namespace quorin::formats {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isSpace(char c) {
  return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

constexpr std::array<bool, 256> only(std::string_view chosen) {
  std::array<bool, 256> set{};
  for (char c : chosen) set[static_cast<unsigned char>(c)] = true;
  return set;
}
// What a string's bytes may be without ending it or escaping; what a number is spelt with.
constexpr auto kStringPlain = [] {
  auto plain = only("\"\\");
  for (auto& byte : plain) byte = !byte;
  return plain;
}();
constexpr auto kNumberCharacters = only("0123456789+-.eE");
constexpr auto kScalarEnd = only(" \n\t\r\"{}[],:");

bool isLiteral(std::string_view spelt) {
  return spelt == "true" || spelt == "false" || spelt == "null";
}

}  // namespace

// Strings, numbers and white space, most of a document's bytes, are passed over in tight
// loops, and inside the document a structural character goes straight to takeStructure(): an
// output file can be hundreds of megabytes. take() has the rest.
void JsonCounter::feed(std::string_view piece) {
  const auto* at = reinterpret_cast<const unsigned char*>(piece.data());
  const auto* end = at + piece.size();
  while (at < end && !broken_) {
    if (inString_ && !escaped_) {
      while (at < end && kStringPlain[*at]) ++at;
      if (at == end) break;
      if (*at++ == '\\')
        escaped_ = true;
      else
        endString();
    } else if (inString_) {
      escaped_ = false;
      ++at;
    } else if (inScalar_ && kNumberCharacters[static_cast<unsigned char>(scalar_[0])]) {
      while (at < end && kNumberCharacters[*at]) ++at;
      if (at == end) break;
      broken_ = !kScalarEnd[*at];
      inScalar_ = false;
      valueDone();
    } else if (inScalar_ && !kScalarEnd[*at]) {
      if (scalarLength_ < sizeof scalar_) scalar_[scalarLength_] = static_cast<char>(*at);
      ++scalarLength_;
      ++at;
    } else if (inScalar_) {
      endScalar();
    } else if (!closers_.empty()) {
      char c = static_cast<char>(*at++);
      if (!isSpace(c)) takeStructure(c);
    } else {
      take(static_cast<char>(*at++));
    }
  }
}

void JsonCounter::take(char c) {
  bool started = !closers_.empty() || closed_;
  if (!started && onlyMark_ && markBytes_ < kByteOrderMark.size() &&
      c == kByteOrderMark[markBytes_]) {
    ++markBytes_;
    return;
  }
  onlyMark_ = false;
  if (isSpace(c)) return;
  if (closed_ || (!started && c != '{' && c != '[')) {
    broken_ = true;
    return;
  }
  if (!started) isObject_ = c == '{';
  takeStructure(c);
}

void JsonCounter::takeStructure(char c) {
  switch (c) {
    case '{':
    case '[':
      open(c);
      break;
    case '}':
    case ']':
      close(c);
      break;
    case ',':
      broken_ = expect_ != Expect::commaOrClose;
      expect_ = closers_.back() == '}' ? Expect::key : Expect::value;
      break;
    case ':':
      broken_ = expect_ != Expect::colon;
      expect_ = Expect::value;
      break;
    case '"':
      quote();
      break;
    default:
      broken_ = !expectsValue();
      inScalar_ = true;
      scalar_[0] = c;
      scalarLength_ = 1;
      broken_ = broken_ || (c != 't' && c != 'f' && c != 'n' && c != '-' && (c < '0' || c > '9'));
      break;
  }
}

void JsonCounter::open(char c) {
  if (!closers_.empty() && !expectsValue()) {
    broken_ = true;
    return;
  }
  broken_ = closers_.size() >= static_cast<std::size_t>(kMaxJsonDepth);
  closers_.push_back(c == '{' ? '}' : ']');
  expect_ = c == '{' ? Expect::keyOrClose : Expect::valueOrClose;
}

void JsonCounter::close(char c) {
  bool closable = expect_ == Expect::commaOrClose || expect_ == Expect::keyOrClose ||
                  expect_ == Expect::valueOrClose;
  if (c != closers_.back() || !closable) {
    broken_ = true;
    return;
  }
  closers_.pop_back();
  closed_ = closers_.empty();
  if (!closed_) valueDone();
}

void JsonCounter::quote() {
  bool key = expect_ == Expect::key || expect_ == Expect::keyOrClose;
  broken_ = !key && !expectsValue();
  inString_ = true;
  stringIsKey_ = key;
}

void JsonCounter::endString() {
  inString_ = false;
  if (stringIsKey_)
    expect_ = Expect::colon;
  else
    valueDone();
}

// The end of a literal, which must be spelt as JSON spells one.
void JsonCounter::endScalar() {
  inScalar_ = false;
  broken_ = scalarLength_ > 5 || !isLiteral(std::string_view(scalar_, scalarLength_));
  valueDone();
}

void JsonCounter::valueDone() {
  if (closers_.size() == 1) ++count_;
  expect_ = Expect::commaOrClose;
}

std::optional<JsonCount> JsonCounter::finish() const {
  if (broken_ || !closed_ || inScalar_ || (markBytes_ != 0 && markBytes_ != kByteOrderMark.size()))
    return std::nullopt;
  return JsonCount{isObject_, count_};
}

}  // namespace quorin::formats
