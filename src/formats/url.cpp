#include "formats/url.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace quorin::formats {
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

// The authority follows "//" after the scheme and ends at "/", "?" or "#".
void parseAuthority(std::string_view text, std::size_t schemeLength, Url& url) {
  std::string_view rest = text.substr(schemeLength == 0 ? 0 : schemeLength + 1);
  if (rest.substr(0, 2) != "//") return;
  std::string_view authority = rest.substr(2, rest.find_first_of("/?#", 2) - 2);
  if (auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  std::string_view host = authority;
  auto colon = authority.rfind(':');
  if (colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
    host = authority.substr(0, colon);
    std::string_view digits = authority.substr(colon + 1);
    int port = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (!digits.empty() && error == std::errc{} && end == digits.data() + digits.size() &&
        port >= 0)
      url.port = port;
  }
  if (!host.empty()) url.host = std::string(host);
}

}  // namespace

std::optional<Url> Url::fromString(std::string_view text) {
  if (text.empty() || !hasValidCharacters(text)) return std::nullopt;
  Url url{std::string(text), schemeOf(text), std::nullopt, std::nullopt};
  parseAuthority(text, url.scheme.size(), url);
  return url;
}

}  // namespace quorin::formats
