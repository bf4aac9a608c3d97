#include "platform/url.hpp"

#include <algorithm>
#include <cctype>

namespace quorin::platform {
namespace {

bool isAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isHex(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Unreserved, reserved and the brackets of IP literals; "%" is checked separately.
bool isUrlCharacter(char c) {
  constexpr std::string_view punctuation = "-._~:/?#[]@!$&'()*+,;=";
  return isAlpha(c) || isDigit(c) || punctuation.find(c) != std::string_view::npos;
}

bool hasValidCharacters(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return false;
      i += 2;
    } else if (!isUrlCharacter(text[i])) {
      return false;
    }
  }
  return std::count(text.begin(), text.end(), '#') <= 1;
}

// The scheme is the text before the first ":" when that text is a valid scheme name and no
// "/", "?" or "#" comes before the colon.
std::string schemeOf(std::string_view text) {
  auto colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0) return {};
  std::string_view candidate = text.substr(0, colon);
  if (!isAlpha(candidate.front())) return {};
  for (char c : candidate) {
    if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return {};
  }
  std::string scheme(candidate);
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return scheme;
}

}  // namespace

std::optional<Url> Url::fromString(std::string_view text) {
  if (text.empty() || !hasValidCharacters(text)) return std::nullopt;
  return Url{std::string(text), schemeOf(text)};
}

}  // namespace quorin::platform
