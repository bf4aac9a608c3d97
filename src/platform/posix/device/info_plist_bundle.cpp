#include "platform/posix/device/info_plist_bundle.hpp"

#include "formats/plist_codec.hpp"
#include "platform/posix/files/file_io.hpp"

namespace quorin::platform::posix {

InfoPlistBundle::InfoPlistBundle(const std::optional<std::filesystem::path>& infoPlist) {
  if (!infoPlist) return;
  auto bytes = readFile(*infoPlist, 16 << 20);
  auto value = bytes ? formats::parsePlist(*bytes) : std::nullopt;
  if (value && value->is<formats::Dictionary>())
    info_ = std::move(*value->get<formats::Dictionary>());
}

std::optional<formats::Value> InfoPlistBundle::objectForInfoDictionaryKey(
    std::string_view key) const {
  auto it = info_.find(key);
  if (it == info_.end()) return std::nullopt;
  return it->second;
}

}  // namespace quorin::platform::posix
