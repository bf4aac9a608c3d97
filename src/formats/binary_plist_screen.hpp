#pragma once

#include <string_view>

namespace quorin::formats {

// The binary half of plistIsSafeToParse: `bytes` start with the binary magic.
bool binaryPlistIsSafeToParse(std::string_view bytes);

}  // namespace quorin::formats
