#pragma once

#include <optional>
#include <string>

#include "platform/value.hpp"

namespace quorin::platform::posix {

// Compact JSON: no spaces, members in key order, doubles in their shortest round-trip form.
// None for what JSON cannot hold: a non-finite number, a date, data, a platform object, or
// text that is not UTF-8.
std::optional<std::string> writeJson(const Value& value);

}  // namespace quorin::platform::posix
