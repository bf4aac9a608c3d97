#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "platform/ad_support.hpp"
#include "platform/application.hpp"
#include "platform/bundle.hpp"
#include "platform/calendar.hpp"
#include "platform/device.hpp"
#include "platform/diagnostics.hpp"
#include "platform/dispatch.hpp"
#include "platform/file_manager.hpp"
#include "platform/keychain_services.hpp"
#include "platform/locale.hpp"
#include "platform/notification_center.hpp"
#include "platform/process_info.hpp"
#include "platform/store_kit.hpp"
#include "platform/ubiquitous_store.hpp"
#include "platform/user_defaults.hpp"

namespace quorin::platform {

// Hands out the services of one platform. Every service lives as long as the platform.
class Platform {
 public:
  virtual ~Platform() = default;
  virtual Dispatch& dispatch() = 0;
  virtual NotificationCenter& notificationCenter() = 0;
  virtual Device& device() = 0;
  virtual ProcessInfo& processInfo() = 0;
  virtual AdSupport& adSupport() = 0;
  virtual Bundle& mainBundle() = 0;
  virtual Locale& locale() = 0;
  virtual Application& application() = 0;
  virtual PaymentQueue& paymentQueue() = 0;
  virtual KeychainServices& keychainServices() = 0;
  // A new replica of the user's cloud key-value store, not shared with earlier ones.
  virtual std::unique_ptr<UbiquitousStore> makeUbiquitousStore() = 0;
  // The suite named `suiteName`; none when the name cannot name a suite.
  virtual std::unique_ptr<UserDefaults> makeUserDefaults(std::string_view suiteName) = 0;
  // The application's own suite.
  virtual UserDefaults& standardUserDefaults() = 0;
  virtual FileManager& fileManager() = 0;
  virtual Calendar& calendar() = 0;
  // Writes one of the library's documented diagnostic lines (without its newline) to the
  // platform's sink; safe from any thread.
  virtual void writeDiagnostic(std::string_view line) = 0;
};

// The process-wide platform that a client made without one uses: the operating system's,
// unless the host installed another first.
std::shared_ptr<Platform> defaultPlatform();
void setDefaultPlatform(std::shared_ptr<Platform> platform);
// A 32-byte key, from a host with a key store of its own, that seals the keychain of default
// platforms made from now on. False, changing nothing, for a key of another length.
bool setDefaultKeychainKey(std::span<const std::uint8_t> key);

}  // namespace quorin::platform
