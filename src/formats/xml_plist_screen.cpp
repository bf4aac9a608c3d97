#include "formats/xml_plist_screen.hpp"

#include <cstdint>
#include <vector>

#include "formats/plist_screen.hpp"

namespace quorin::formats {
namespace {

constexpr std::string_view kNameEnd = " \t\r\n/";

// A raw NUL, or a character reference to it such as "&#0;" or "&#x00;".
bool holdsNul(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return true;
  for (auto at = text.find("&#"); at != std::string_view::npos; at = text.find("&#", at + 2)) {
    std::size_t i = at + 2;
    if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) ++i;
    std::size_t zeros = i;
    while (i < text.size() && text[i] == '0') ++i;
    if (i > zeros && i < text.size() && text[i] == ';') return true;
  }
  return false;
}

// Quotes that close before the tag does, so that a reader honouring them and one that does
// not end the tag at the same '>'.
bool quotesBalance(std::string_view markup) {
  char quote = 0;
  for (char c : markup) {
    if (quote == 0 && (c == '"' || c == '\'')) {
      quote = c;
    } else if (c == quote) {
      quote = 0;
    }
  }
  return quote == 0;
}

// Follows the elements' nesting. Every '<' starts markup and no markup holds another '<',
// so however a reader delimits comments, declarations and attributes, it meets the same
// tags; a closing tag must match the element it closes.
class XmlNesting {
 public:
  bool isSafeToParse(std::string_view text) {
    for (auto at = text.find('<'); at != std::string_view::npos; at = text.find('<', at)) {
      std::string_view rest = text.substr(at + 1);
      std::string_view close = rest.starts_with("!--")        ? "-->"
                               : rest.starts_with("![CDATA[") ? "]]>"
                               : rest.starts_with('?')        ? "?>"
                                                              : ">";
      auto length = rest.find(close);
      if (length == std::string_view::npos) return false;
      std::string_view markup = rest.substr(0, length);
      if (markup.find('<') != std::string_view::npos || !tag(markup)) return false;
      at += 1 + length + close.size();
    }
    return true;
  }

 private:
  bool tag(std::string_view markup) {
    if (markup.starts_with('!') || markup.starts_with('?')) return true;
    if (!quotesBalance(markup)) return false;
    if (markup.starts_with('/')) return closeElement(name(markup.substr(1)));
    // The root <plist> element holds the value and is no object of its own.
    if (!open_.empty() && ++elements_ > kMaxPlistObjects) return false;
    if (open_.size() > static_cast<std::size_t>(kMaxPlistDepth)) return false;
    if (!markup.ends_with('/')) open_.push_back(name(markup));
    return true;
  }

  bool closeElement(std::string_view closing) {
    if (open_.empty() || open_.back() != closing) return false;
    open_.pop_back();
    return true;
  }

  static std::string_view name(std::string_view markup) {
    return markup.substr(0, markup.find_first_of(kNameEnd));
  }

  std::vector<std::string_view> open_;
  std::uint64_t elements_ = 0;
};

}  // namespace

bool xmlPlistIsSafeToParse(std::string_view text) {
  return !holdsNul(text) && XmlNesting().isSafeToParse(text);
}

}  // namespace quorin::formats
