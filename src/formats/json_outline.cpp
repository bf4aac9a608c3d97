#include <simdjson.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "formats/json.hpp"
#include "formats/json_text.hpp"

namespace quorin::formats {
namespace {

namespace ondemand = simdjson::ondemand;
using simdjson::error_code;

constexpr std::array<std::int8_t, 256> kHexDigits = [] {
  std::array<std::int8_t, 256> digits{};
  digits.fill(-1);
  for (int c = 0; c < 10; ++c) digits['0' + c] = static_cast<std::int8_t>(c);
  for (int c = 0; c < 6; ++c) digits['a' + c] = digits['A' + c] = static_cast<std::int8_t>(10 + c);
  return digits;
}();

constexpr std::array<bool, 256> kSimpleEscapes = [] {
  std::array<bool, 256> simple{};
  for (char c : std::string_view("\"\\/bfnrt")) simple[static_cast<unsigned char>(c)] = true;
  return simple;
}();

// The value of the four hex digits at `at`, or -1.
std::int32_t hexQuad(const char* at) {
  std::int32_t value = 0;
  int bad = 0;
  for (int i = 0; i < 4; ++i) {
    int digit = kHexDigits[static_cast<unsigned char>(at[i])];
    bad |= digit;
    value = value << 4 | (digit & 0xf);
  }
  return bad < 0 ? -1 : value;
}

// The first backslash from `at` on, or `end`. Most strings are short; a plain loop beats a
// call to memchr there.
const char* nextEscape(const char* at, const char* end) {
  if (end - at >= 64) {
    const void* found = std::memchr(at, '\\', static_cast<std::size_t>(end - at));
    return found ? static_cast<const char*>(found) : end;
  }
  while (at < end && *at != '\\') ++at;
  return at;
}

// Whether the escapes in a string's raw content are those the DOM parser accepts: the
// simple ones, and \u escapes whose surrogates come in pairs. Strings are checked in place
// rather than unescaped, which would touch a buffer as large as the document.
bool validEscapes(std::string_view content) {
  const char* end = content.data() + content.size();
  for (const char* at = nextEscape(content.data(), end); at < end; at = nextEscape(at, end)) {
    if (end - at < 2) return false;
    if (at[1] != 'u') {
      if (!kSimpleEscapes[static_cast<unsigned char>(at[1])]) return false;
      at += 2;
      continue;
    }
    std::int32_t first = end - at >= 6 ? hexQuad(at + 2) : -1;
    if (first < 0 || (first >= 0xDC00 && first <= 0xDFFF)) return false;
    at += 6;
    if (first < 0xD800 || first >= 0xDC00) continue;
    bool paired = end - at >= 6 && at[0] == '\\' && at[1] == 'u';
    std::int32_t second = paired ? hexQuad(at + 2) : -1;
    if (second < 0xDC00 || second > 0xDFFF) return false;
    at += 6;
  }
  return true;
}

bool isSpace(char c) {
  return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

// The raw content of a key: from its first character to the quote that closes it, found by
// stepping back over the colon from the start of its value.
std::string_view keyContent(const char* start, const char* value) {
  const char* end = value - 1;
  while (isSpace(*end)) --end;
  --end;  // the colon
  while (isSpace(*end)) --end;
  return {start, static_cast<std::size_t>(end - start)};
}

constexpr std::ptrdiff_t kBreakBytes = 1 << 20;

std::string_view trimEnd(const char* begin, const char* end) {
  while (end > begin && isSpace(end[-1])) --end;
  return {begin, static_cast<std::size_t>(end - begin)};
}

// Reads every token as parseJson would, so that both accept the same documents. On the way
// it notes where values start about every megabyte, and counts how long the values would be
// without white space: a text of that length has none to take out.
class Checker {
 public:
  explicit Checker(std::vector<const char*>& breaks) : breaks_(breaks) {}

  std::size_t compactBytes() const { return compactBytes_; }
  int depth() const { return depth_; }

  error_code value(ondemand::value value, int depth) {
    std::string_view token = value.raw_json_token();
    note(token.data());
    compactBytes_ += trimEnd(token.data(), token.data() + token.size()).size();
    ondemand::json_type type;
    if (auto error = value.type().get(type)) return error;
    switch (type) {
      case ondemand::json_type::array: {
        ondemand::array array;
        if (depth > kMaxJsonDepth) return simdjson::DEPTH_ERROR;
        depth_ = std::max(depth_, depth);
        if (auto error = value.get_array().get(array)) return error;
        return elements(array, depth);
      }
      case ondemand::json_type::object: {
        ondemand::object object;
        if (depth > kMaxJsonDepth) return simdjson::DEPTH_ERROR;
        depth_ = std::max(depth_, depth);
        if (auto error = value.get_object().get(object)) return error;
        return members(object, depth);
      }
      case ondemand::json_type::number: {
        auto error = value.get_number().error();
        return error && isWideInteger(token) ? simdjson::SUCCESS : error;
      }
      case ondemand::json_type::string: {
        // Taking the string is what makes the parser check what follows it.
        ondemand::raw_json_string raw;
        if (auto error = value.get_raw_json_string().get(raw)) return error;
        auto content = token.substr(1, token.rfind('"') - 1);
        return validEscapes(content) ? simdjson::SUCCESS : simdjson::STRING_ERROR;
      }
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

  // After the opening bracket, which value() counted.
  error_code elements(ondemand::array array, int depth, std::size_t* count = nullptr) {
    std::size_t seen = 0;
    for (auto element : array) {
      ondemand::value item;
      if (auto error = element.get(item)) return error;
      if (auto error = value(item, depth + 1)) return error;
      ++seen;
    }
    closeContainer(seen);
    if (count) *count = seen;
    return simdjson::SUCCESS;
  }

  error_code members(ondemand::object object, int depth) {
    std::size_t seen = 0;
    for (auto field : object) {
      ondemand::field member;
      if (auto error = std::move(field).get(member)) return error;
      ondemand::value item = member.value();
      auto key = keyContent(member.key().raw(), item.raw_json_token().data());
      if (!validEscapes(key)) return simdjson::STRING_ERROR;
      countKey(key);
      if (auto error = value(item, depth + 1)) return error;
      ++seen;
    }
    closeContainer(seen);
    return simdjson::SUCCESS;
  }

  // The commas between `count` children and the closing bracket.
  void closeContainer(std::size_t count) { compactBytes_ += (count > 0 ? count - 1 : 0) + 1; }
  // A key's quotes and colon, around its raw content.
  void countKey(std::string_view key) { compactBytes_ += key.size() + 3; }
  void countOpening() { compactBytes_ += 1; }

 private:
  void note(const char* start) {
    if (last_ != nullptr && start - last_ < kBreakBytes) return;
    if (last_ != nullptr) breaks_.push_back(start);
    last_ = start;
  }

  std::vector<const char*>& breaks_;
  const char* last_ = nullptr;
  std::size_t compactBytes_ = 0;
  int depth_ = 1;
};

bool hasEscape(std::string_view content) {
  return std::find(content.begin(), content.end(), '\\') != content.end();
}

error_code outlineObject(ondemand::document& document, Checker& check, JsonOutline& outline,
                         std::vector<JsonMemberView>& members) {
  ondemand::object object;
  if (auto error = document.get_object().get(object)) return error;
  check.countOpening();
  for (auto field : object) {
    ondemand::field member;
    if (auto error = std::move(field).get(member)) return error;
    ondemand::value value = member.value();
    // A scalar's token is its text; a container's ends where the next token starts.
    std::string_view token = value.raw_json_token();
    std::string_view name = keyContent(member.key().raw(), token.data());
    check.countKey(name);
    bool escaped = hasEscape(name);
    if (escaped) {
      if (auto error = member.unescaped_key().get(name)) return error;
    }
    ondemand::json_type type;
    if (auto error = value.type().get(type)) return error;
    auto before = check.compactBytes();
    if (auto error = check.value(value, 2)) return error;
    const char* end = token.data() + token.size();
    if (type == ondemand::json_type::array || type == ondemand::json_type::object) {
      if (auto error = document.current_location().get(end)) return error;
    }
    auto text = trimEnd(token.data(), end);
    members.push_back({name, text, check.compactBytes() - before == text.size(), escaped});
  }
  check.closeContainer(members.size());
  outline.isObject = true;
  outline.count = members.size();
  return simdjson::SUCCESS;
}

error_code outline(ondemand::document& document, std::string_view text, JsonOutline& result,
                   std::vector<JsonMemberView>& members) {
  Checker check(result.breaks);
  ondemand::json_type type;
  if (auto error = document.type().get(type)) return error;
  if (type == ondemand::json_type::object) {
    if (auto error = outlineObject(document, check, result, members)) return error;
  } else if (type == ondemand::json_type::array) {
    ondemand::array array;
    if (auto error = document.get_array().get(array)) return error;
    check.countOpening();
    if (auto error = check.elements(array, 1, &result.count)) return error;
  } else {
    return simdjson::INCORRECT_TYPE;
  }
  // Only a document read to its end has no location left.
  auto rest = document.current_location().error();
  if (rest != simdjson::OUT_OF_BOUNDS) return simdjson::TRAILING_CONTENT;
  result.compact = check.compactBytes() == text.size();
  result.depth = check.depth();
  return simdjson::SUCCESS;
}

}  // namespace

struct JsonOutliner::Parser {
  ondemand::parser parser;
};

JsonOutliner::JsonOutliner() : parser_(std::make_unique<Parser>()) {}
JsonOutliner::~JsonOutliner() = default;

// Room not taken is no error: iterate() asks again for what it needs.
void JsonOutliner::reserve(std::size_t bytes) {
  if (bytes <= parser_->parser.capacity()) return;
  auto taken = parser_->parser.allocate(bytes, parser_->parser.max_depth());
  static_cast<void>(taken);
}

std::optional<JsonOutline> JsonOutliner::outline(std::string_view whole, std::size_t capacity) {
  auto text = withoutByteOrderMark(whole);
  capacity -= static_cast<std::size_t>(text.data() - whole.data());
  std::optional<simdjson::padded_string> copy;
  simdjson::padded_string_view input(text.data(), text.size(), capacity);
  if (capacity < text.size() + simdjson::SIMDJSON_PADDING) {
    copy.emplace(text.data(), text.size());
    input = *copy;
  }
  members_.clear();
  ondemand::document document;
  JsonOutline result;
  if (parser_->parser.iterate(input).get(document) != simdjson::SUCCESS ||
      formats::outline(document, text, result, members_) != simdjson::SUCCESS) {
    members_.clear();
    return std::nullopt;
  }
  result.text = text;
  if (copy) {
    // The outline must point into the caller's text, not into the copy.
    auto inCopy = [&](const char* at) {
      return at >= copy->data() && at <= copy->data() + copy->size();
    };
    auto moved = [&](std::string_view part) {
      if (!inCopy(part.data())) return part;
      return std::string_view(text.data() + (part.data() - copy->data()), part.size());
    };
    for (auto& member : members_) {
      member.name = moved(member.name);
      member.text = moved(member.text);
    }
    for (auto& at : result.breaks) at = moved({at, 0}).data();
  }
  return result;
}

std::optional<JsonOutline> outlineJson(const std::string& whole) {
  JsonOutliner outliner;
  auto result = outliner.outline(whole, whole.capacity());
  if (!result) return std::nullopt;
  result->members.reserve(outliner.members().size());
  for (const auto& member : outliner.members())
    result->members.push_back({std::string(member.name), member.text, member.compact});
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

}  // namespace quorin::formats
