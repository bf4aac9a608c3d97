#include "json_output.hpp"

#include <iostream>

#include "formats/base64.hpp"
#include "formats/json.hpp"
#include "formats/utf8.hpp"

namespace quorin::cli {
namespace {

using platform::Value;

// Each byte that starts no well-formed sequence becomes U+FFFD.
std::string replacingInvalid(std::string_view text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    auto length = platform::utf8SequenceLength(text, at);
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
  if (const auto* data = value.get<platform::Data>())
    return std::string(data->begin(), data->end());
  return std::nullopt;
}

platform::Dictionary visibleMembers(const platform::Dictionary& members) {
  platform::Dictionary out;
  for (const auto& [name, member] : members) {
    auto visibleName = replacingInvalid(name);
    if (auto bytes = bytesOf(member)) {
      out[visibleName] = replacingInvalid(*bytes);
      if (!platform::isValidUtf8(*bytes)) {
        auto raw = reinterpret_cast<const std::uint8_t*>(bytes->data());
        out[visibleName + "_base64"] = platform::base64Encode({raw, bytes->size()});
      }
    } else {
      out[visibleName] = visibleInJson(member);
    }
  }
  return out;
}

}  // namespace

Value visibleInJson(const Value& value) {
  if (const auto* members = value.get<platform::Dictionary>()) return visibleMembers(*members);
  if (const auto* elements = value.get<platform::Array>()) {
    platform::Array out;
    for (const auto& element : *elements) out.push_back(visibleInJson(element));
    return out;
  }
  if (auto bytes = bytesOf(value)) return replacingInvalid(*bytes);
  // What JSON cannot hold at all (a date, a number that is not finite) reads as null.
  return platform::writeJson(value) ? value : Value();
}

void printJson(const Value& value) {
  std::cout << platform::writeJson(visibleInJson(value)).value_or("null") << "\n";
}

}  // namespace quorin::cli
