#pragma once

#include <optional>
#include <string_view>

#include "platform/value.hpp"

namespace quorin::platform::posix {

// Strict JSON whose top level is an array or an object. Integers that fit 64 bits stay
// integers; every other number is a double. None for anything that is not such a document:
// bad syntax or UTF-8, nesting deeper than 1024, or an integer written out beyond 64 bits.
std::optional<Value> parseJson(std::string_view text);

}  // namespace quorin::platform::posix
