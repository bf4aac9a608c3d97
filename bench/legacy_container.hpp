#pragma once

#include <cstddef>
#include <filesystem>
#include <vector>

namespace quorin::bench {

// A legacy device as large as a heavy user's: analytics files of `analyticsBytes` in all,
// `offers` limited-time offers, and a defaults suite of `suiteKeys` keys.
struct LegacyContainerSize {
  std::size_t analyticsBytes = 200u << 20;
  int offers = 10'000;
  int suiteKeys = 10'000;
};

// Writes the device into `container`; answers every JSON file it wrote.
std::vector<std::filesystem::path> writeLegacyContainer(const std::filesystem::path& container,
                                                        const LegacyContainerSize& size);

}  // namespace quorin::bench
