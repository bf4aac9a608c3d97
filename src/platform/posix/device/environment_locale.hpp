#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/locale.hpp"

namespace quorin::platform::posix {

// "en_US.UTF-8" gives "en-US"; "C", "POSIX" and malformed names give none.
std::optional<std::string> languageTagFromLocaleName(std::string_view name);
// The territory of a locale name: "US" for "en_US.UTF-8".
std::optional<std::string> regionFromLocaleName(std::string_view name);

// The languages and region of the POSIX locale environment: LANGUAGE's list first, then the
// locale that LC_ALL, LC_MESSAGES or LANG names, in that order of precedence.
class EnvironmentLocale final : public Locale {
 public:
  explicit EnvironmentLocale(const std::map<std::string, std::string>& environment);

  std::vector<std::string> preferredLanguages() const override { return languages_; }
  std::optional<std::string> regionCode() const override { return region_; }

 private:
  std::vector<std::string> languages_;
  std::optional<std::string> region_;
};

}  // namespace quorin::platform::posix
