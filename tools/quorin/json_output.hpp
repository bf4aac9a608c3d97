#pragma once

#include "formats/value.hpp"

namespace quorin::cli {

// `value` as JSON can hold it, so that one byte that is not UTF-8 never costs the whole
// document: such text reads with U+FFFD in its place, and a dictionary member gets the exact
// bytes beside it as "<name>_base64". Data reads as text the same way; what JSON cannot hold
// at all (a date, a number that is not finite) reads as null.
formats::Value visibleInJson(const formats::Value& value);

// Prints `value` as one line of JSON, non-UTF-8 text made visible as above.
void printJson(const formats::Value& value);

}  // namespace quorin::cli
