#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "formats/plist_codec.hpp"
#include "platform/posix/files/plist_user_defaults.hpp"

namespace {

using namespace quorin::formats;

// libplist keeps dates to the microsecond and truncates when it reads them back; a real
// may be NaN, which equals no number.
bool sameSuiteValue(const Value& a, const Value& b) {
  if (const auto* real = a.get<double>(); real && std::isnan(*real)) {
    const auto* other = b.get<double>();
    return other && std::isnan(*other);
  }
  if (const auto* date = a.get<Date>()) {
    const auto* other = b.get<Date>();
    return other && std::fabs(date->secondsSince1970 - other->secondsSince1970) <= 2e-6;
  }
  if (const auto* array = a.get<Array>()) {
    const auto* other = b.get<Array>();
    return other && std::equal(array->begin(), array->end(), other->begin(), other->end(),
                               sameSuiteValue);
  }
  if (const auto* dictionary = a.get<Dictionary>()) {
    const auto* other = b.get<Dictionary>();
    return other && std::equal(dictionary->begin(), dictionary->end(), other->begin(),
                               other->end(), [](const auto& x, const auto& y) {
                                 return x.first == y.first && sameSuiteValue(x.second, y.second);
                               });
  }
  return a == b;
}

}  // namespace

// A suite that writes must read back as the same suite.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto suite = quorin::platform::posix::parseSuite(
      std::string_view(reinterpret_cast<const char*>(data), size));
  if (!suite) return 0;
  auto bytes = serializePlist(Value(*suite), PlistFormat::binary);
  if (!bytes) return 0;
  auto again = quorin::platform::posix::parseSuite(*bytes);
  if (!again || !sameSuiteValue(Value(*suite), Value(*again))) std::abort();
  return 0;
}
