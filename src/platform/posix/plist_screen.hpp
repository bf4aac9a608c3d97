#pragma once

#include <string_view>

namespace quorin::platform::posix {

// Whether libplist can read every dictionary key of `bytes` without aborting: its key
// getter asserts on keys that hold a NUL. XML may not hold U+0000 at all; in a binary plist
// every key must be a string object without a NUL. False for what is too broken to tell.
bool plistKeysAreReadable(std::string_view bytes);

}  // namespace quorin::platform::posix
