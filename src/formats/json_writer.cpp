#include "formats/json.hpp"

#include <charconv>
#include <cmath>
#include <string_view>

#include "formats/utf8.hpp"

namespace quorin::formats {
namespace {

bool writeString(std::string_view text, std::string& out) {
  constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (std::size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = utf8SequenceLength(text, i);
    if (length == 0) return false;
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20) {
      out += "\\u00";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  out.push_back('"');
  return true;
}

template <typename Number>
bool writeNumber(Number number, std::string& out) {
  if constexpr (std::is_floating_point_v<Number>) {
    if (!std::isfinite(number)) return false;
  }
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
  if constexpr (std::is_floating_point_v<Number>) {
    // Whole seconds and counts read better as digits than as 1.6e+09.
    if (std::trunc(number) == number && std::fabs(number) < 0x1p53)
      result = std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::fixed);
    // A whole number past 64 bits spelled as digits alone would read back as no number.
    if (std::fabs(number) >= 0x1p63 &&
        std::string_view(buffer, result.ptr).find_first_of(".e") == std::string_view::npos)
      result = std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::scientific);
  }
  out.append(buffer, result.ptr);
  return true;
}

bool write(const Value& value, std::string& out);

bool writeArray(const Array& array, std::string& out) {
  out.push_back('[');
  for (std::size_t i = 0; i < array.size(); ++i) {
    if (i > 0) out.push_back(',');
    if (!write(array[i], out)) return false;
  }
  out.push_back(']');
  return true;
}

bool writeDictionary(const Dictionary& dictionary, std::string& out) {
  out.push_back('{');
  bool first = true;
  for (const auto& [key, member] : dictionary) {
    if (!first) out.push_back(',');
    first = false;
    if (!writeString(key, out)) return false;
    out.push_back(':');
    if (!write(member, out)) return false;
  }
  out.push_back('}');
  return true;
}

bool write(const Value& value, std::string& out) {
  return std::visit(
      [&](const auto& v) -> bool {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Null>) {
          out += "null";
          return true;
        } else if constexpr (std::is_same_v<T, bool>) {
          out += v ? "true" : "false";
          return true;
        } else if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::uint64_t> ||
                             std::is_same_v<T, double>) {
          return writeNumber(v, out);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return writeString(v, out);
        } else if constexpr (std::is_same_v<T, Array>) {
          return writeArray(v, out);
        } else if constexpr (std::is_same_v<T, Dictionary>) {
          return writeDictionary(v, out);
        } else {
          return false;
        }
      },
      value.storage());
}

}  // namespace

std::optional<std::string> writeJson(const Value& value) {
  std::string out;
  if (!write(value, out)) return std::nullopt;
  return out;
}

bool appendJson(const Value& value, std::string& out) {
  auto size = out.size();
  if (write(value, out)) return true;
  out.resize(size);
  return false;
}

bool appendJsonString(std::string_view text, std::string& out) {
  auto size = out.size();
  if (writeString(text, out)) return true;
  out.resize(size);
  return false;
}

}  // namespace quorin::formats
