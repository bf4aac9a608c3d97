#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "formats/value.hpp"
#include "platform/ad_support.hpp"
#include "platform/device.hpp"
#include "platform/store_kit.hpp"

namespace quorin::platform::posix {

// What a container says about the device it stands for, kept in `<container>/device.plist`.
// Every fact has a default, so a profile may name only the ones it changes.
struct DeviceProfile {
  std::string systemVersion = "17.0";
  UserInterfaceIdiom idiom = UserInterfaceIdiom::phone;
  std::optional<formats::Uuid> identifierForVendor;
  formats::Uuid advertisingIdentifier;
  TrackingAuthorizationStatus trackingAuthorizationStatus =
      TrackingAuthorizationStatus::notDetermined;
  bool advertisingTrackingEnabled = false;
  bool iOSAppOnMac = false;
  std::optional<Storefront> storefront = Storefront{"USA", "143441"};
};

// Reads the facts a property-list dictionary names; wrong-typed entries keep their default.
DeviceProfile profileFromValue(const formats::Value& value);
formats::Value profileToValue(const DeviceProfile& profile);

struct LoadedProfile {
  DeviceProfile profile;
  // Why the file on disk was not used (it is then left untouched), or none.
  std::optional<std::string> problem;
};

// Loads the container's profile. A missing one is created, with identifiers generated once;
// an existing one without a vendor identifier gets one added.
LoadedProfile loadDeviceProfile(const std::filesystem::path& container);

formats::Uuid randomUuid();

}  // namespace quorin::platform::posix
