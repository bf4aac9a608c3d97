#include "formats/base64.hpp"

#include <string_view>

namespace quorin::formats {

std::string base64Encode(std::span<const std::uint8_t> bytes) {
  constexpr std::string_view alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint32_t group = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) text.push_back(alphabet[group >> shift & 0x3F]);
  }
  std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t group = bytes[i] << 16 | (rest == 2 ? bytes[i + 1] << 8 : 0);
    text.push_back(alphabet[group >> 18 & 0x3F]);
    text.push_back(alphabet[group >> 12 & 0x3F]);
    text.push_back(rest == 2 ? alphabet[group >> 6 & 0x3F] : '=');
    text.push_back('=');
  }
  return text;
}

}  // namespace quorin::formats
