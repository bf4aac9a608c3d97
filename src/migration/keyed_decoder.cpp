#include "migration/keyed_decoder.hpp"

#include <cmath>

namespace quorin::migration {
namespace {

using formats::Dictionary;
using formats::Value;
using Kind = DecodingError::Kind;

const Dictionary& asObject(const Value& value, const CodingPath& path) {
  if (const auto* members = value.get<Dictionary>()) return *members;
  throw DecodingError(Kind::typeMismatch, path,
                      "Expected to decode Dictionary<String, Any> but found " +
                          std::string(jsonTypeName(value)) + " instead.");
}

[[noreturn]] void mismatch(CodingPath path, std::string_view type, const Value& found) {
  throw DecodingError(Kind::typeMismatch, std::move(path),
                      "Expected to decode " + std::string(type) + " but found " +
                          std::string(jsonTypeName(found)) + " instead.");
}

}  // namespace

std::string_view jsonTypeName(const Value& value) {
  if (value.isNull()) return "null";
  if (value.is<bool>()) return "a boolean";
  if (value.is<std::int64_t>() || value.is<double>()) return "a number";
  if (value.is<std::string>()) return "a string";
  if (value.is<formats::Array>()) return "an array";
  if (value.is<Dictionary>()) return "a dictionary";
  return "a value";
}

KeyedDecoder::KeyedDecoder(const Value& value, CodingPath path)
    : members_(asObject(value, path)), path_(std::move(path)) {}

CodingPath KeyedDecoder::pathTo(std::string_view key) const {
  auto path = path_;
  path.emplace_back(key);
  return path;
}

const Value* KeyedDecoder::optionalValue(std::string_view key) const {
  auto it = members_.find(key);
  if (it == members_.end() || it->second.isNull()) return nullptr;
  return &it->second;
}

const Value& KeyedDecoder::value(std::string_view key, std::string_view type) const {
  auto it = members_.find(key);
  if (it == members_.end())
    throw DecodingError(Kind::keyNotFound, path_,
                        "No value associated with key \"" + std::string(key) + "\".");
  if (it->second.isNull())
    throw DecodingError(Kind::valueNotFound, pathTo(key),
                        "Expected " + std::string(type) + " value but found null instead.");
  return it->second;
}

void KeyedDecoder::corrupt(std::string_view key, const std::string& description) const {
  throw DecodingError(Kind::dataCorrupted, pathTo(key), description);
}

std::string KeyedDecoder::string(std::string_view key) const {
  const auto& member = value(key, "String");
  if (const auto* text = member.get<std::string>()) return *text;
  mismatch(pathTo(key), "String", member);
}

std::optional<std::string> KeyedDecoder::optionalString(std::string_view key) const {
  if (optionalValue(key) == nullptr) return std::nullopt;
  return string(key);
}

std::int64_t KeyedDecoder::integer(std::string_view key) const {
  const auto& member = value(key, "Int64");
  if (const auto* integer = member.get<std::int64_t>()) return *integer;
  const auto* real = member.get<double>();
  if (real == nullptr) mismatch(pathTo(key), "Int64", member);
  if (std::trunc(*real) != *real || *real < -0x1p63 || *real >= 0x1p63)
    corrupt(key, "Parsed JSON number does not fit in Int64.");
  return static_cast<std::int64_t>(*real);
}

std::optional<std::int64_t> KeyedDecoder::optionalInteger(std::string_view key) const {
  if (optionalValue(key) == nullptr) return std::nullopt;
  return integer(key);
}

bool KeyedDecoder::boolean(std::string_view key) const {
  const auto& member = value(key, "Bool");
  if (const auto* flag = member.get<bool>()) return *flag;
  mismatch(pathTo(key), "Bool", member);
}

}  // namespace quorin::migration
