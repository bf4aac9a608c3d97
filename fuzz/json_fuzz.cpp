#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/json.hpp"

// What reads must write, and what is written must read back and write the same again
// (after one round, which settles how whole-numbered doubles are spelled).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorin::platform;
  auto value = parseJson(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!value) return 0;
  auto first = writeJson(*value);
  if (!first) std::abort();
  auto settled = parseJson(*first);
  if (!settled) std::abort();
  auto second = writeJson(*settled);
  auto again = second ? parseJson(*second) : std::nullopt;
  if (!again || writeJson(*again) != second) std::abort();
  return 0;
}
