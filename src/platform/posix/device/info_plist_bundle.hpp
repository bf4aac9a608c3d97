#pragma once

#include <filesystem>
#include <optional>

#include "platform/bundle.hpp"

namespace quorin::platform::posix {

// The main bundle as an Info.plist file describes it; without one, the dictionary is empty.
class InfoPlistBundle final : public Bundle {
 public:
  explicit InfoPlistBundle(const std::optional<std::filesystem::path>& infoPlist);
  std::optional<formats::Value> objectForInfoDictionaryKey(std::string_view key) const override;

 private:
  formats::Dictionary info_;
};

}  // namespace quorin::platform::posix
