#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/posix/plist_codec.hpp"
#include "platform/posix/plist_user_defaults.hpp"

// A suite that reads must write back and read again as the same suite.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorin::platform;
  auto suite = posix::parseSuite(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!suite) return 0;
  auto bytes = posix::serializePlist(Value(*suite), posix::PlistFormat::binary);
  if (!bytes) return 0;
  auto again = posix::parseSuite(*bytes);
  if (!again || *again != *suite) std::abort();
  return 0;
}
