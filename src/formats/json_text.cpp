#include "formats/json_text.hpp"

#include <charconv>
#include <cstdint>

namespace quorin::formats {
namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isNumberCharacter(char c) {
  return isDigit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// An integer as JSON spells one: no leading zero, no fraction or exponent.
bool isIntegerSpelling(std::string_view token) {
  std::string_view digits = token.substr(token.starts_with('-') ? 1 : 0);
  if (digits.empty() || (digits[0] == '0' && digits.size() > 1)) return false;
  for (char c : digits)
    if (!isDigit(c)) return false;
  return true;
}

template <typename Integer>
bool overflows(std::string_view token) {
  Integer ignored;
  auto result = std::from_chars(token.data(), token.data() + token.size(), ignored);
  return result.ec == std::errc::result_out_of_range;
}

}  // namespace

std::string_view withoutByteOrderMark(std::string_view text) {
  constexpr std::string_view kMark = "\xEF\xBB\xBF";
  return text.starts_with(kMark) ? text.substr(kMark.size()) : text;
}

bool isWideInteger(std::string_view token) {
  while (!token.empty() && (token.back() == ' ' || token.back() == '\n' || token.back() == '\t' ||
                            token.back() == '\r'))
    token.remove_suffix(1);
  if (!isIntegerSpelling(token)) return false;
  return token.starts_with('-') ? overflows<std::int64_t>(token) : overflows<std::uint64_t>(token);
}

std::string widenIntegers(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 64);
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString || c == '"') {
      out.push_back(c);
      if (inString && c == '\\' && i + 1 < text.size())
        out.push_back(text[++i]);
      else if (c == '"')
        inString = !inString;
      continue;
    }
    if (!isDigit(c) && c != '-') {
      out.push_back(c);
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && isNumberCharacter(text[end])) ++end;
    auto token = text.substr(i, end - i);
    out.append(token);
    if (isWideInteger(token)) out += ".0";
    i = end - 1;
  }
  return out;
}

}  // namespace quorin::formats
