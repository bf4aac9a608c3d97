#pragma once

#include "formats/uuid.hpp"

namespace quorin::platform {

enum class TrackingAuthorizationStatus : int {
  notDetermined = 0,
  restricted = 1,
  denied = 2,
  authorized = 3,
};

// The advertising identifier and the user's tracking choices. Safe to use from any thread.
class AdSupport {
 public:
  virtual ~AdSupport() = default;
  virtual TrackingAuthorizationStatus trackingAuthorizationStatus() const = 0;
  // The opt-out flag of systems before tracking authorisation existed.
  virtual bool isAdvertisingTrackingEnabled() const = 0;
  virtual formats::Uuid advertisingIdentifier() const = 0;
};

}  // namespace quorin::platform
