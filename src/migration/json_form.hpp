#pragma once

#include <optional>

#include "formats/value.hpp"

namespace quorin::migration {

// The value less whatever JSON cannot hold (dates, data, non-finite numbers, text that is
// not UTF-8, and members under such names), or none when the value itself is such. One bad
// value then costs only itself, not the file it would be written in.
std::optional<formats::Value> jsonForm(const formats::Value& value);

}  // namespace quorin::migration
