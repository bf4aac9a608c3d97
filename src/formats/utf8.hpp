#pragma once

#include <cstddef>
#include <string_view>

namespace quorin::formats {

// Length of the well-formed UTF-8 sequence that starts at `text[at]`, or 0 when it is
// malformed (overlong, a surrogate, past U+10FFFF, or cut short).
std::size_t utf8SequenceLength(std::string_view text, std::size_t at);

bool isValidUtf8(std::string_view text);

}  // namespace quorin::formats
