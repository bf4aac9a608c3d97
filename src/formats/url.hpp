#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorin::formats {

// A URL made from text exactly as given, as URL-from-string does: nothing is added to it.
struct Url {
  std::string text;
  // Lower-cased; empty for a relative reference such as "fb" or "/path".
  std::string scheme;
  // From the authority ("//user@host:port"), when the URL has one.
  std::optional<std::string> host;
  std::optional<int> port;

  // None for text that is not a URL reference: empty text, characters outside the URL
  // alphabet (space, quotes, angle brackets, non-ASCII, ...) or a broken percent escape.
  static std::optional<Url> fromString(std::string_view text);
};

}  // namespace quorin::formats
