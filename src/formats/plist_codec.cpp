#include "formats/plist_codec.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

#include "formats/plist_nodes.hpp"
#include "formats/plist_screen.hpp"
#include "formats/utf8.hpp"

namespace quorin::formats {
namespace {

// Property lists count time from 2001-01-01.
constexpr double kAppleEpochOffset = 978307200.0;

struct MallocDeleter {
  void operator()(void* p) const { std::free(p); }
};

std::optional<Value> toValue(plist_t node, int depth);

std::optional<Value> arrayToValue(plist_t node, int depth) {
  Array array;
  uint32_t size = plist_array_get_size(node);
  array.reserve(size);
  for (uint32_t i = 0; i < size; ++i) {
    auto item = toValue(plist_array_get_item(node, i), depth + 1);
    if (!item) return std::nullopt;
    array.push_back(std::move(*item));
  }
  return Value(std::move(array));
}

std::optional<Value> dictToValue(plist_t node, int depth) {
  Dictionary dictionary;
  plist_dict_iter iter = nullptr;
  plist_dict_new_iter(node, &iter);
  std::unique_ptr<void, MallocDeleter> iterOwner(iter);
  while (true) {
    char* rawKey = nullptr;
    plist_t item = nullptr;
    plist_dict_next_item(node, iter, &rawKey, &item);
    std::unique_ptr<char, MallocDeleter> key(rawKey);
    if (!item) break;
    auto value = toValue(item, depth + 1);
    if (!value || !key) return std::nullopt;
    dictionary.insert_or_assign(key.get(), std::move(*value));
  }
  return Value(std::move(dictionary));
}

std::optional<Value> scalarToValue(plist_t node) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return Value(b != 0);
    }
    case PLIST_UINT: {
      uint64_t u = 0;
      plist_get_uint_val(node, &u);
      // The reader hands every integer over as its 64 bits, whether negative or unsigned.
      if (u > std::numeric_limits<std::int64_t>::max() && isUnsignedNode(node)) return Value(u);
      return Value(static_cast<std::int64_t>(u));
    }
    case PLIST_UID: {
      uint64_t u = 0;
      plist_get_uid_val(node, &u);
      return Value(static_cast<std::int64_t>(u));
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return Value(d);
    }
    case PLIST_STRING: {
      // The copying getter asserts on strings that hold a NUL, which damaged files do.
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      return Value(text ? std::string(text, length) : std::string());
    }
    case PLIST_DATA: {
      uint64_t length = 0;
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(plist_get_data_ptr(node, &length));
      return Value(bytes ? Data(bytes, bytes + length) : Data{});
    }
    case PLIST_DATE: {
      auto seconds = dateNodeSeconds(node);
      if (!seconds) return std::nullopt;
      return Value(Date{kAppleEpochOffset + *seconds});
    }
    default:
      return std::nullopt;
  }
}

std::optional<Value> toValue(plist_t node, int depth) {
  if (!node || depth > kMaxPlistDepth) return std::nullopt;
  switch (plist_get_node_type(node)) {
    case PLIST_ARRAY:
      return arrayToValue(node, depth);
    case PLIST_DICT:
      return dictToValue(node, depth);
    default:
      return scalarToValue(node);
  }
}

PlistPtr fromValue(const Value& value, PlistFormat format, int depth);

// The writer takes C strings and silently writes unreadable files for malformed UTF-8.
bool isWritableText(std::string_view text) {
  return text.find('\0') == std::string_view::npos && isValidUtf8(text);
}

// XML spells a date as YYYY-MM-DDTHH:MM:SSZ, so years 1 to 9999 in whole seconds; binary
// lists take the same years, so that a value writes in either format.
PlistPtr dateNode(Date date, PlistFormat format) {
  constexpr double kFirst = -62135596800.0;  // 0001-01-01T00:00:00Z
  constexpr double kEnd = 253402300800.0;    // 10000-01-01T00:00:00Z
  double seconds = date.secondsSince1970;
  if (!(seconds >= kFirst && seconds < kEnd)) return nullptr;
  if (format == PlistFormat::xml) seconds = std::floor(seconds);
  return newDateNode(seconds - kAppleEpochOffset);
}

PlistPtr containerNode(const Value& value, PlistFormat format, int depth) {
  if (const auto* array = value.get<Array>()) {
    PlistPtr node(plist_new_array());
    for (const auto& item : *array) {
      PlistPtr child = fromValue(item, format, depth + 1);
      if (!child) return nullptr;
      plist_array_append_item(node.get(), child.release());
    }
    return node;
  }
  PlistPtr node(plist_new_dict());
  for (const auto& [key, item] : *value.get<Dictionary>()) {
    PlistPtr child = fromValue(item, format, depth + 1);
    if (!child || !isWritableText(key)) return nullptr;
    plist_dict_set_item(node.get(), key.c_str(), child.release());
  }
  return node;
}

// Bounded as reads are: libplist writes and frees the tree recursively, and nothing deeper
// could be read back.
PlistPtr fromValue(const Value& value, PlistFormat format, int depth) {
  if (depth > kMaxPlistDepth) return nullptr;
  if (value.is<Array>() || value.is<Dictionary>()) return containerNode(value, format, depth);
  if (const auto* b = value.get<bool>()) return PlistPtr(plist_new_bool(*b));
  if (const auto* i = value.get<std::int64_t>())
    return PlistPtr(plist_new_uint(static_cast<uint64_t>(*i)));
  if (const auto* u = value.get<std::uint64_t>()) return newUnsignedNode(*u);
  if (const auto* d = value.get<double>()) return PlistPtr(plist_new_real(*d));
  if (const auto* s = value.get<std::string>()) {
    if (!isWritableText(*s)) return nullptr;
    return PlistPtr(plist_new_string(s->c_str()));
  }
  if (const auto* data = value.get<Data>())
    return PlistPtr(plist_new_data(reinterpret_cast<const char*>(data->data()), data->size()));
  if (const auto* date = value.get<Date>()) return dateNode(*date, format);
  return nullptr;
}

}  // namespace

std::optional<Value> parsePlist(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max() ||
      !plistIsSafeToParse(bytes))
    return std::nullopt;
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  PlistPtr owner(root);
  return toValue(root, 1);
}

std::optional<std::string> serializePlist(const Value& value, PlistFormat format) {
  PlistPtr root = fromValue(value, format, 1);
  if (!root) return std::nullopt;
  char* raw = nullptr;
  uint32_t length = 0;
  if (format == PlistFormat::binary) {
    plist_to_bin(root.get(), &raw, &length);
  } else {
    plist_to_xml(root.get(), &raw, &length);
  }
  std::unique_ptr<char, MallocDeleter> bytes(raw);
  if (!raw) return std::nullopt;
  return std::string(raw, length);
}

}  // namespace quorin::formats
