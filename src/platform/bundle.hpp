#pragma once

#include <optional>
#include <string_view>

#include "formats/value.hpp"

namespace quorin::platform {

inline constexpr std::string_view kCFBundleVersionKey = "CFBundleVersion";

// The application's main bundle. Safe to use from any thread.
class Bundle {
 public:
  virtual ~Bundle() = default;
  virtual std::optional<formats::Value> objectForInfoDictionaryKey(std::string_view key) const = 0;
};

}  // namespace quorin::platform
