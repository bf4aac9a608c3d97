#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "formats/json.hpp"
#include "migration/decoding_error.hpp"
#include "migration/legacy_lto_info.hpp"
#include "migration/migration_records.hpp"

namespace {

using namespace quorin;

// A calendar whose instant, offset and first weekday come from the input's first bytes.
struct FixedCalendar final : platform::Calendar {
  double instant = 1'700'000'000;
  std::int64_t offset = 0;
  int first = 1;
  double now() const override { return instant; }
  std::int64_t secondsFromGMT(double) const override { return offset; }
  int firstWeekday() const override { return first; }
  std::optional<double> startOfWeek(double at) const override { return at - 3 * 86400.0; }
};

}  // namespace

// Any offer list decodes whole or throws DecodingError; every decoded offer has an end no
// later than its duration allows, and migrates to a record JSON can hold.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FixedCalendar calendar;
  if (size >= 4) {
    std::int32_t shift = 0;
    std::memcpy(&shift, data, sizeof shift);
    calendar.instant += shift;
    calendar.offset = shift % 50'400;
    calendar.first = 1 + data[0] % 7;
    data += 4;
    size -= 4;
  }
  auto list = formats::parseJson(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!list) return 0;
  std::vector<std::shared_ptr<const migration::LegacyLtoInfo>> infos;
  try {
    infos = migration::decodeLegacyLtoInfos(*list);
  } catch (const migration::DecodingError&) {
    return 0;
  }
  for (const auto& info : infos) {
    if (!info->ltoContext) std::abort();
    auto end = info->computedEndTime(calendar);
    std::int64_t limit = 0;
    if (!__builtin_mul_overflow(info->durationMinutes, 60, &limit) &&
        !__builtin_add_overflow(info->startTime, limit, &limit) && end > limit)
      std::abort();
    migration::MigrationLtoInfo record{info->isPriorityLaunch,
                                       info->launchedTrigger,
                                       info->defaultSpotImage,
                                       info->ltoContext->campaignName,
                                       info->spot,
                                       static_cast<double>(info->startTime),
                                       static_cast<double>(end)};
    if (!formats::writeJson(record.encode())) std::abort();
  }
  return 0;
}
