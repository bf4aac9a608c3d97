#include "formats/json.hpp"

#include <simdjson.h>

#include "formats/json_text.hpp"

namespace quorin::formats {
namespace {

Value convert(simdjson::dom::element element);

Value convertArray(simdjson::dom::array array) {
  Array result;
  result.reserve(array.size());
  for (auto item : array) result.push_back(convert(item));
  return Value(std::move(result));
}

Value convertObject(simdjson::dom::object object) {
  Dictionary result;
  // A repeated member keeps its last value.
  for (auto [key, item] : object) result.insert_or_assign(std::string(key), convert(item));
  return Value(std::move(result));
}

Value convert(simdjson::dom::element element) {
  using Type = simdjson::dom::element_type;
  switch (element.type()) {
    case Type::ARRAY:
      return convertArray(element.get_array().value_unsafe());
    case Type::OBJECT:
      return convertObject(element.get_object().value_unsafe());
    case Type::INT64:
      return Value(element.get_int64().value_unsafe());
    case Type::UINT64:
      return Value(static_cast<double>(element.get_uint64().value_unsafe()));
    case Type::DOUBLE:
      return Value(element.get_double().value_unsafe());
    case Type::STRING:
      return Value(std::string(element.get_string().value_unsafe()));
    case Type::BOOL:
      return Value(element.get_bool().value_unsafe());
    case Type::NULL_VALUE:
      break;
  }
  return Value(Null{});
}

}  // namespace

std::optional<Value> parseJson(std::string_view text) {
  text = withoutByteOrderMark(text);
  // One parser a thread keeps its buffers from one document to the next.
  thread_local simdjson::dom::parser parser;
  simdjson::dom::element root;
  auto error = parser.parse(text.data(), text.size()).get(root);
  // Rare enough to pay for a second pass over a copy.
  std::string widened;
  if (error == simdjson::NUMBER_ERROR) {
    widened = widenIntegers(text);
    error = parser.parse(widened.data(), widened.size()).get(root);
  }
  if (error != simdjson::SUCCESS) return std::nullopt;
  if (!root.is_array() && !root.is_object()) return std::nullopt;
  return convert(root);
}

}  // namespace quorin::formats
