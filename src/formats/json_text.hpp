#pragma once

#include <string>
#include <string_view>

// What the JSON reader and the outline accept beyond what simdjson does, as the platform's
// own parser does: a leading byte-order mark, and integers too wide for 64 bits.
namespace quorin::formats {

std::string_view withoutByteOrderMark(std::string_view text);

// Whether `token`, a number token simdjson refused, is an integer too wide for 64 bits.
bool isWideInteger(std::string_view token);

// `text` with each integer too wide for 64 bits outside strings spelled as a real ("…0.0"),
// which simdjson reads as the nearest double.
std::string widenIntegers(std::string_view text);

}  // namespace quorin::formats
