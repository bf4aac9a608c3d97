#include "formats/excerpt.hpp"

#include <cstdio>

#include "formats/utf8.hpp"

namespace quorin::formats {
namespace {

constexpr std::string_view kCut = "...";

std::string escaped(const char* format, unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// How the character at `at`, `length` bytes long (0 for a byte that is not UTF-8), is shown.
std::string shown(std::string_view text, std::size_t at, std::size_t length) {
  auto lead = static_cast<unsigned char>(text[at]);
  switch (lead) {
    case '\\':
      return "\\\\";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
  }
  if (length == 0 || lead < 0x20 || lead == 0x7f) return escaped("\\x%02x", lead);
  // U+0080 to U+009F, which terminals take as controls (U+009B starts a sequence).
  if (lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0)
    return escaped("\\u%04x", static_cast<unsigned char>(text[at + 1]));
  return std::string(text.substr(at, length));
}

}  // namespace

std::string excerpt(std::string_view text, std::size_t limit) {
  std::string out;
  std::size_t lastFit = 0;  // where "..." would still fit after what is shown
  for (std::size_t at = 0; at < text.size();) {
    auto length = utf8SequenceLength(text, at);
    out += shown(text, at, length);
    at += length == 0 ? 1 : length;
    if (out.size() + kCut.size() <= limit) lastFit = out.size();
    if (out.size() > limit) {
      out.resize(lastFit);
      return out += kCut.substr(0, limit - lastFit);
    }
  }
  return out;
}

}  // namespace quorin::formats
