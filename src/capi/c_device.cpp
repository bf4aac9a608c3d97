#include <chrono>
#include <cmath>

#include "formats/utf8.hpp"
#include "platform/application.hpp"
#include "platform/linux/posix_platform.hpp"
#include "quorin/quorin.h"

namespace {

using quorin::platform::posix::PosixPlatform;

std::shared_ptr<PosixPlatform> defaultDevice() {
  return std::dynamic_pointer_cast<PosixPlatform>(quorin::platform::defaultPlatform());
}

bool isText(const char* text) {
  return text && quorin::platform::isValidUtf8(text);
}

std::optional<std::string_view> eventName(qrn_application_event event) {
  namespace platform = quorin::platform;
  switch (event) {
    case QRN_APPLICATION_WILL_ENTER_FOREGROUND:
      return platform::kWillEnterForegroundNotification;
    case QRN_APPLICATION_DID_ENTER_BACKGROUND:
      return platform::kDidEnterBackgroundNotification;
    case QRN_APPLICATION_DID_BECOME_ACTIVE:
      return platform::kDidBecomeActiveNotification;
    case QRN_APPLICATION_WILL_RESIGN_ACTIVE:
      return platform::kWillResignActiveNotification;
  }
  return std::nullopt;
}

// Negative means no deadline; so does anything past a century, which would overflow the clock.
quorin::platform::Clock::TimePoint deadlineAfter(const quorin::platform::Clock& clock,
                                                 double seconds) {
  constexpr double kCentury = 100.0 * 365 * 24 * 3600;
  if (std::isnan(seconds)) seconds = 0;
  if (seconds < 0 || seconds > kCentury) return quorin::platform::Clock::TimePoint::max();
  return clock.now() + std::chrono::duration_cast<quorin::platform::Clock::Duration>(
                           std::chrono::duration<double>(seconds));
}

}  // namespace

extern "C" {

bool qrn_use_container(const char* container, const char* cloud_account) {
  if (!isText(container) || (cloud_account && !isText(cloud_account))) return false;
  try {
    quorin::platform::posix::PosixPlatformOptions options{
        .container = container,
        .keychainKey = quorin::platform::posix::defaultKeychainKeyOptions()};
    if (cloud_account) options.cloudAccount = cloud_account;
    quorin::platform::setDefaultPlatform(std::make_shared<PosixPlatform>(std::move(options)));
    return true;
  } catch (...) {
    return false;
  }
}

bool qrn_use_keychain_key(const unsigned char* key, size_t length) {
  return key && quorin::platform::setDefaultKeychainKey({key, length});
}

bool qrn_post_application_event(qrn_application_event event) {
  auto name = eventName(event);
  auto device = name ? defaultDevice() : nullptr;
  if (!device) return false;
  try {
    // Weakly: the task waits in the device's own loop, which must not keep the device alive.
    device->mainLoop().async([weak = std::weak_ptr(device), name = std::string(*name)] {
      if (auto posting = weak.lock())
        posting->notificationCenter().post({name, &posting->application(), std::nullopt});
    });
    return true;
  } catch (...) {
    return false;
  }
}

bool qrn_main_loop_run(double seconds) {
  auto device = defaultDevice();
  if (!device) return false;
  try {
    return !device->mainLoop().runUntil(deadlineAfter(device->dispatch().clock(), seconds));
  } catch (...) {
    return false;
  }
}

size_t qrn_main_loop_drain(void) {
  auto device = defaultDevice();
  if (!device) return 0;
  try {
    return device->mainLoop().drainPending();
  } catch (...) {
    return 0;
  }
}

void qrn_main_loop_stop(void) {
  if (auto device = defaultDevice()) device->mainLoop().stop();
}

}  // extern "C"
