#pragma once

#include <string_view>

namespace quorin::platform::posix {

// The XML half of plistIsSafeToParse.
bool xmlPlistIsSafeToParse(std::string_view text);

}  // namespace quorin::platform::posix
