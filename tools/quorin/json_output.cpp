#include "json_output.hpp"

#include <iostream>

#include "formats/base64.hpp"
#include "formats/json.hpp"
#include "formats/utf8.hpp"

namespace quorin::cli {
namespace {

using formats::Value;

// Each byte that starts no well-formed sequence becomes U+FFFD.
std::string replacingInvalid(std::string_view text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    auto length = formats::utf8SequenceLength(text, at);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++at;
    } else {
      out.append(text.substr(at, length));
      at += length;
    }
  }
  return out;
}

// The bytes of text or data; none for any other value.
std::optional<std::string> bytesOf(const Value& value) {
  if (const auto* text = value.get<std::string>()) return *text;
  if (const auto* data = value.get<formats::Data>()) return std::string(data->begin(), data->end());
  return std::nullopt;
}

formats::Dictionary visibleMembers(const formats::Dictionary& members) {
  formats::Dictionary out;
  for (const auto& [name, member] : members) {
    auto visibleName = replacingInvalid(name);
    if (auto bytes = bytesOf(member)) {
      out[visibleName] = replacingInvalid(*bytes);
      if (!formats::isValidUtf8(*bytes)) {
        auto raw = reinterpret_cast<const std::uint8_t*>(bytes->data());
        out[visibleName + "_base64"] = formats::base64Encode({raw, bytes->size()});
      }
    } else {
      out[visibleName] = visibleInJson(member);
    }
  }
  return out;
}

}  // namespace

Value visibleInJson(const Value& value) {
  if (const auto* members = value.get<formats::Dictionary>()) return visibleMembers(*members);
  if (const auto* elements = value.get<formats::Array>()) {
    formats::Array out;
    for (const auto& element : *elements) out.push_back(visibleInJson(element));
    return out;
  }
  if (auto bytes = bytesOf(value)) return replacingInvalid(*bytes);
  // What JSON cannot hold at all (a date, a number that is not finite) reads as null.
  return formats::writeJson(value) ? value : Value();
}

void printJson(const Value& value) {
  std::cout << formats::writeJson(visibleInJson(value)).value_or("null") << "\n";
}

}  // namespace quorin::cli
