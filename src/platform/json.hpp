#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/value.hpp"

namespace quorin::platform {

// Strict JSON whose top level is an array or an object. Integers that fit 64 bits stay
// integers; every other number is a double. None for anything that is not such a document:
// bad syntax or UTF-8, nesting deeper than 1024, or an integer written out beyond 64 bits.
std::optional<Value> parseJson(std::string_view text);

// Compact JSON: no spaces, members in key order, doubles in their shortest round-trip form.
// None for what JSON cannot hold: a non-finite number, a date, data, a platform object, or
// text that is not UTF-8.
std::optional<std::string> writeJson(const Value& value);
// The same, appended to `out`; on failure `out` holds a partial text.
bool appendJson(const Value& value, std::string& out);
bool appendJsonString(std::string_view text, std::string& out);

// A member of an outlined object: its name, and its value as the document spells it.
struct JsonMember {
  std::string name;
  std::string_view text;
};

// The top level of a document that parseJson would accept, taken apart no further, so that
// large documents pass through without becoming values.
struct JsonOutline {
  bool isObject = false;
  std::size_t count = 0;            // members or elements
  std::vector<JsonMember> members;  // an object's, in document order, repeats included
};

// None where parseJson gives none. The members' texts point into `text`. Spare capacity of
// 64 bytes past the end of `text` saves a copy.
std::optional<JsonOutline> outlineJson(const std::string& text);

// Appends `json`, a valid JSON text, without the white space between its tokens.
void appendCompactJson(std::string_view json, std::string& out);

}  // namespace quorin::platform
