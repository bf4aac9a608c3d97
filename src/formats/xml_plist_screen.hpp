#pragma once

#include <string_view>

namespace quorin::formats {

// The XML half of plistIsSafeToParse.
bool xmlPlistIsSafeToParse(std::string_view text);

}  // namespace quorin::formats
