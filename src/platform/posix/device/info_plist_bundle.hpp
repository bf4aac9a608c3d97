#pragma once

#include <filesystem>
#include <optional>

#include "platform/bundle.hpp"

namespace quorin::platform::posix {

// The main bundle as an Info.plist file describes it; without one, the dictionary is empty.
class InfoPlistBundle final : public Bundle {
 public:
  explicit InfoPlistBundle(const std::optional<std::filesystem::path>& infoPlist);
  std::optional<Value> objectForInfoDictionaryKey(std::string_view key) const override;

 private:
  Dictionary info_;
};

}  // namespace quorin::platform::posix
