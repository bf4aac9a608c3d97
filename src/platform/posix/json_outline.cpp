#include <simdjson.h>

#include "platform/json.hpp"

namespace quorin::platform {
namespace {

namespace ondemand = simdjson::ondemand;
using simdjson::error_code;

// The DOM parser's limit: the top level is depth 1.
constexpr int kMaxDepth = 1024;

error_code check(ondemand::value value, int depth);

error_code checkArray(ondemand::array array, int depth, std::size_t* count = nullptr) {
  for (auto element : array) {
    ondemand::value item;
    if (auto error = element.get(item)) return error;
    if (auto error = check(item, depth + 1)) return error;
    if (count) ++*count;
  }
  return simdjson::SUCCESS;
}

error_code checkObject(ondemand::object object, int depth) {
  for (auto field : object) {
    std::string_view key;
    if (auto error = field.unescaped_key().get(key)) return error;
    if (auto error = check(field.value(), depth + 1)) return error;
  }
  return simdjson::SUCCESS;
}

// Reads every token as parseJson would, so that both accept the same documents.
error_code check(ondemand::value value, int depth) {
  ondemand::json_type type;
  if (auto error = value.type().get(type)) return error;
  switch (type) {
    case ondemand::json_type::array: {
      ondemand::array array;
      if (depth > kMaxDepth) return simdjson::DEPTH_ERROR;
      if (auto error = value.get_array().get(array)) return error;
      return checkArray(array, depth);
    }
    case ondemand::json_type::object: {
      ondemand::object object;
      if (depth > kMaxDepth) return simdjson::DEPTH_ERROR;
      if (auto error = value.get_object().get(object)) return error;
      return checkObject(object, depth);
    }
    case ondemand::json_type::number:
      return value.get_number().error();
    case ondemand::json_type::string:
      return value.get_string().error();
    case ondemand::json_type::boolean:
      return value.get_bool().error();
    case ondemand::json_type::null: {
      bool isNull = false;
      if (auto error = value.is_null().get(isNull)) return error;
      return isNull ? simdjson::SUCCESS : simdjson::N_ATOM_ERROR;
    }
  }
  return simdjson::INCORRECT_TYPE;
}

std::string_view trimEnd(const char* begin, const char* end) {
  while (end > begin && (end[-1] == ' ' || end[-1] == '\n' || end[-1] == '\t' || end[-1] == '\r'))
    --end;
  return {begin, static_cast<std::size_t>(end - begin)};
}

error_code outlineObject(ondemand::document& document, JsonOutline& outline) {
  ondemand::object object;
  if (auto error = document.get_object().get(object)) return error;
  for (auto field : object) {
    std::string_view key;
    ondemand::value value;
    if (auto error = field.unescaped_key().get(key)) return error;
    if (auto error = field.value().get(value)) return error;
    // A scalar's token is its text; a container's ends where the next token starts.
    std::string_view token = value.raw_json_token();
    ondemand::json_type type;
    if (auto error = value.type().get(type)) return error;
    if (auto error = check(value, 2)) return error;
    const char* end = token.data() + token.size();
    if (type == ondemand::json_type::array || type == ondemand::json_type::object) {
      if (auto error = document.current_location().get(end)) return error;
    }
    outline.members.push_back({std::string(key), trimEnd(token.data(), end)});
  }
  outline.isObject = true;
  outline.count = outline.members.size();
  return simdjson::SUCCESS;
}

error_code outline(ondemand::document& document, JsonOutline& result) {
  ondemand::json_type type;
  if (auto error = document.type().get(type)) return error;
  if (type == ondemand::json_type::object) {
    if (auto error = outlineObject(document, result)) return error;
  } else if (type == ondemand::json_type::array) {
    ondemand::array array;
    if (auto error = document.get_array().get(array)) return error;
    if (auto error = checkArray(array, 1, &result.count)) return error;
  } else {
    return simdjson::INCORRECT_TYPE;
  }
  // Only a document read to its end has no location left.
  auto rest = document.current_location().error();
  return rest == simdjson::OUT_OF_BOUNDS ? simdjson::SUCCESS : simdjson::TRAILING_CONTENT;
}

}  // namespace

std::optional<JsonOutline> outlineJson(const std::string& text) {
  std::optional<simdjson::padded_string> copy;
  simdjson::padded_string_view input(text.data(), text.size(), text.capacity());
  if (text.capacity() < text.size() + simdjson::SIMDJSON_PADDING) {
    copy.emplace(text);
    input = *copy;
  }
  // A parser of its own, so that its buffers go as soon as the outline is made.
  ondemand::parser parser;
  ondemand::document document;
  JsonOutline result;
  if (parser.iterate(input).get(document) != simdjson::SUCCESS) return std::nullopt;
  if (outline(document, result) != simdjson::SUCCESS) return std::nullopt;
  if (copy) {
    // The members must point into the caller's text, not into the copy.
    for (auto& member : result.members)
      member.text = {text.data() + (member.text.data() - copy->data()), member.text.size()};
  }
  return result;
}

void appendCompactJson(std::string_view json, std::string& out) {
  auto start = out.size();
  out.resize(start + json.size() + simdjson::SIMDJSON_PADDING);
  std::size_t length = 0;
  if (simdjson::minify(json.data(), json.size(), out.data() + start, length) == simdjson::SUCCESS) {
    out.resize(start + length);
  } else {
    out.resize(start);
    out.append(json);
  }
}

}  // namespace quorin::platform
