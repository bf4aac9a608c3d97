#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "formats/value.hpp"

namespace quorin::formats {

enum class PlistFormat { binary, xml };

// Reads a binary or XML property list: the one way bytes reach libplist. None when the bytes
// are no property list, are empty, or fail the screen (plist_screen.hpp): nest deeper or
// expand further than any real one does.
std::optional<Value> parsePlist(std::string_view bytes);

// None when `value` holds what a property list cannot: null, platform objects, text with a
// NUL character or that is not UTF-8, dates outside the years 1 to 9999, or nesting deeper
// than kMaxPlistDepth. XML keeps dates to the whole second they fall in.
std::optional<std::string> serializePlist(const Value& value, PlistFormat format);

}  // namespace quorin::formats
