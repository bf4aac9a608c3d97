#pragma once

#include <ostream>

#include "formats/json.hpp"

namespace quorin::platform {

// Values in test failures read as JSON, where they have a JSON form.
inline void PrintTo(const formats::Value& value, std::ostream* out) {
  *out << formats::writeJson(value).value_or("(a value without a JSON form)");
}

}  // namespace quorin::platform
