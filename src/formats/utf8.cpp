#include "formats/utf8.hpp"

namespace quorin::formats {

std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(at);
  std::size_t length = lead < 0x80           ? 1
                       : (lead >> 5) == 0x06 ? 2
                       : (lead >> 4) == 0x0E ? 3
                       : (lead >> 3) == 0x1E ? 4
                                             : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(at + k) & 0xC0) != 0x80) return 0;
  }
  unsigned char second = length > 1 ? byte(at + 1) : 0;
  bool overlong = (length == 2 && lead < 0xC2) || (length == 3 && lead == 0xE0 && second < 0xA0) ||
                  (length == 4 && lead == 0xF0 && second < 0x90);
  bool surrogate = length == 3 && lead == 0xED && second >= 0xA0;
  bool tooLarge = length == 4 && (lead > 0xF4 || (lead == 0xF4 && second >= 0x90));
  return overlong || surrogate || tooLarge ? 0 : length;
}

bool isValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace quorin::formats
