#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "formats/plist_codec.hpp"
#include "formats/plist_screen.hpp"

namespace {

using namespace quorin::formats;

struct Measure {
  int depth = 0;
  std::uint64_t objects = 0;
  std::uint64_t bytes = 0;  // of text and data
};

void measure(const Value& value, int depth, Measure& total) {
  total.depth = std::max(total.depth, depth);
  ++total.objects;
  if (const auto* text = value.get<std::string>()) total.bytes += text->size();
  if (const auto* data = value.get<Data>()) total.bytes += data->size();
  if (const auto* array = value.get<Array>()) {
    for (const auto& item : *array) measure(item, depth + 1, total);
  }
  if (const auto* dictionary = value.get<Dictionary>()) {
    for (const auto& [key, item] : *dictionary) {
      ++total.objects;
      total.bytes += key.size();
      measure(item, depth + 1, total);
    }
  }
}

}  // namespace

// What passes the screen reads without crashing, and what it reads keeps within the limits
// the screen counted: libplist turns UTF-16 text into UTF-8, at most twice the bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  bool safe = plistIsSafeToParse(bytes);
  auto value = parsePlist(bytes);
  if (!value) return 0;
  if (!safe) std::abort();
  Measure total;
  measure(*value, 1, total);
  if (total.depth > kMaxPlistDepth || total.objects > kMaxPlistObjects ||
      total.bytes > 2 * size * kMaxPlistExpansion)
    std::abort();
  return 0;
}
