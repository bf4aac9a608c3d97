#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorin::platform {

// The user's language and region settings. Safe to use from any thread.
class Locale {
 public:
  virtual ~Locale() = default;
  // Language tags such as "en-US" or "zh-Hans", most preferred first.
  virtual std::vector<std::string> preferredLanguages() const = 0;
  // The current locale's region, such as "US".
  virtual std::optional<std::string> regionCode() const = 0;
};

}  // namespace quorin::platform
