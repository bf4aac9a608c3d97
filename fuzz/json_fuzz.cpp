#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "formats/json.hpp"
#include "formats/json_count.hpp"

namespace {

using namespace quorin::formats;

// What reads must write, and what is written must read back and write the same again
// (after one round, which settles how whole-numbered doubles are spelled).
void roundTrip(const Value& value) {
  auto first = writeJson(value);
  if (!first) std::abort();
  auto settled = parseJson(*first);
  if (!settled) std::abort();
  auto second = writeJson(*settled);
  auto again = second ? parseJson(*second) : std::nullopt;
  if (!again || writeJson(*again) != second) std::abort();
}

// The outline accepts what the parser accepts, and its member texts, made compact, are the
// parsed members.
void outlineAgrees(const std::string& text, const std::optional<Value>& parsed) {
  auto outline = outlineJson(text);
  if (outline.has_value() != parsed.has_value()) std::abort();
  if (!outline || !outline->isObject) return;
  Dictionary rebuilt;
  for (const auto& member : outline->members) {
    std::string compact = "[";
    appendCompactJson(member.text, compact);
    auto value = parseJson(compact + "]");
    if (!value) std::abort();
    rebuilt.insert_or_assign(member.name, value->get<Array>()->front());
  }
  if (Value(std::move(rebuilt)) != *parsed) std::abort();
}

// Wherever the outline accepts a document, the counter, fed it in uneven pieces, counts the
// same top level.
void counterAgrees(const std::string& text) {
  JsonCounter counter;
  std::string_view rest = text;
  for (std::size_t piece = 1; !rest.empty(); piece = piece * 3 % 17 + 1) {
    counter.feed(rest.substr(0, piece));
    rest.remove_prefix(std::min(piece, rest.size()));
  }
  auto counted = counter.finish();
  auto outline = outlineJson(text);
  if (!outline) return;
  if (!counted || counted->isObject != outline->isObject || counted->count != outline->count)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  auto value = parseJson(text);
  outlineAgrees(text, value);
  counterAgrees(text);
  if (value) roundTrip(*value);
  return 0;
}
