#pragma once

#include <cstddef>
#include <filesystem>
#include <string_view>
#include <vector>

namespace quorin::bench {

// How a device's analytics are laid out, as real devices have them.
enum class AnalyticsShape {
  keyedObjects,  // objects of events keyed by id, many small members, ids repeated across files
  arrays,        // event arrays, whole or under one member
  hugeMember,    // one object whose one member holds nearly every byte
  smallFiles,    // every file the migration reads, each small
};

std::string_view nameOf(AnalyticsShape shape);

// A legacy device: analytics files of about `analyticsBytes` in all laid out as `shape`,
// `offers` limited-time offers, and a defaults suite of `suiteKeys` keys.
struct LegacyContainerSize {
  AnalyticsShape shape = AnalyticsShape::arrays;
  std::size_t analyticsBytes = 200u << 20;
  int offers = 10'000;
  int suiteKeys = 10'000;
};

// The size a benchmark of `shape` uses.
LegacyContainerSize benchSize(AnalyticsShape shape);

// Writes the device into `container`; answers every JSON file it wrote.
std::vector<std::filesystem::path> writeLegacyContainer(const std::filesystem::path& container,
                                                        const LegacyContainerSize& size);

}  // namespace quorin::bench
