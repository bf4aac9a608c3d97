#include "migration/json_form.hpp"

#include <cmath>

#include "formats/utf8.hpp"

namespace quorin::migration {

using platform::Array;
using platform::Dictionary;
using platform::Value;

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
      if (auto form = jsonForm(member); form && platform::isValidUtf8(key))
        kept.emplace(key, std::move(*form));
    return Value(std::move(kept));
  }
  if (const auto* real = value.get<double>(); real && !std::isfinite(*real)) return std::nullopt;
  if (const auto* text = value.get<std::string>(); text && !platform::isValidUtf8(*text))
    return std::nullopt;
  if (value.is<platform::Date>() || value.is<platform::Data>() || value.is<platform::ObjectRef>())
    return std::nullopt;
  return value;
}

}  // namespace quorin::migration
