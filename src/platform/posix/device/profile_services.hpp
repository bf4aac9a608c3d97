#pragma once

#include <map>
#include <string>

#include "platform/ad_support.hpp"
#include "platform/device.hpp"
#include "platform/posix/device/device_profile.hpp"
#include "platform/process_info.hpp"

namespace quorin::platform::posix {

// "17.2.1" gives 17, 2, 1; missing or malformed parts count as 0.
OperatingSystemVersion parseSystemVersion(std::string_view text);

// The machine itself answers uname; the profile answers what only an iOS device knows.
class ProfileDevice final : public Device {
 public:
  explicit ProfileDevice(const DeviceProfile& profile) : profile_(profile) {}
  void uname(Utsname& result) const override;
  std::string systemVersion() const override { return profile_.systemVersion; }
  UserInterfaceIdiom userInterfaceIdiom() const override { return profile_.idiom; }
  std::optional<formats::Uuid> identifierForVendor() const override {
    return profile_.identifierForVendor;
  }

 private:
  const DeviceProfile& profile_;
};

class ProfileProcessInfo final : public ProcessInfo {
 public:
  explicit ProfileProcessInfo(const DeviceProfile& profile) : profile_(profile) {}
  std::map<std::string, std::string> environment() const override;
  bool isiOSAppOnMac() const override { return profile_.iOSAppOnMac; }
  bool isOperatingSystemAtLeast(OperatingSystemVersion version) const override;

 private:
  const DeviceProfile& profile_;
};

class ProfileAdSupport final : public AdSupport {
 public:
  explicit ProfileAdSupport(const DeviceProfile& profile) : profile_(profile) {}
  TrackingAuthorizationStatus trackingAuthorizationStatus() const override {
    return profile_.trackingAuthorizationStatus;
  }
  bool isAdvertisingTrackingEnabled() const override { return profile_.advertisingTrackingEnabled; }
  formats::Uuid advertisingIdentifier() const override { return profile_.advertisingIdentifier; }

 private:
  const DeviceProfile& profile_;
};

}  // namespace quorin::platform::posix
