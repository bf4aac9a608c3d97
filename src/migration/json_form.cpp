#include "migration/json_form.hpp"

#include <cmath>

#include "formats/utf8.hpp"

namespace quorin::migration {

using formats::Array;
using formats::Dictionary;
using formats::Value;

std::optional<Value> jsonForm(const Value& value) {
  if (const auto* array = value.get<Array>()) {
    Array kept;
    for (const auto& element : *array)
      if (auto form = jsonForm(element)) kept.push_back(std::move(*form));
    return Value(std::move(kept));
  }
  if (const auto* dictionary = value.get<Dictionary>()) {
    Dictionary kept;
    for (const auto& [key, member] : *dictionary)
      if (auto form = jsonForm(member); form && formats::isValidUtf8(key))
        kept.emplace(key, std::move(*form));
    return Value(std::move(kept));
  }
  if (const auto* real = value.get<double>(); real && !std::isfinite(*real)) return std::nullopt;
  if (const auto* text = value.get<std::string>(); text && !formats::isValidUtf8(*text))
    return std::nullopt;
  if (value.is<formats::Date>() || value.is<formats::Data>() || value.is<formats::ObjectRef>())
    return std::nullopt;
  return value;
}

}  // namespace quorin::migration
