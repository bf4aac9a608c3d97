#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "formats/json.hpp"
#include "formats/plist_codec.hpp"
#include "platform/posix/device/device_profile.hpp"

// Whatever parses must survive every consumer: the device profile, the JSON writer and a
// binary round trip.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorin::formats;
  auto value = parsePlist(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!value) return 0;
  quorin::platform::posix::profileFromValue(*value);
  writeJson(*value);
  if (auto binary = serializePlist(*value, PlistFormat::binary)) {
    if (!parsePlist(*binary)) std::abort();
  }
  serializePlist(*value, PlistFormat::xml);
  return 0;
}
