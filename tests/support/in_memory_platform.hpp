#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/common/local_notification_center.hpp"
#include "platform/common/loop_dispatch.hpp"
#include "platform/common/payment_queue.hpp"
#include "platform/platform.hpp"
#include "support/in_memory_cloud.hpp"
#include "support/in_memory_defaults.hpp"
#include "support/in_memory_files.hpp"
#include "support/in_memory_keychain.hpp"
#include "support/virtual_clock.hpp"

namespace quorin::testing {

// Device facts a test sets directly.
struct FakeDevice final : platform::Device {
  platform::Utsname system{};
  std::string version = "17.0";
  platform::UserInterfaceIdiom idiom = platform::UserInterfaceIdiom::phone;
  std::optional<formats::Uuid> vendor;

  void setMachine(std::string_view machine);
  void uname(platform::Utsname& result) const override { result = system; }
  std::string systemVersion() const override { return version; }
  platform::UserInterfaceIdiom userInterfaceIdiom() const override { return idiom; }
  std::optional<formats::Uuid> identifierForVendor() const override { return vendor; }
};

struct FakeProcessInfo final : platform::ProcessInfo {
  std::map<std::string, std::string> variables;
  bool onMac = false;
  platform::OperatingSystemVersion osVersion{17, 0, 0};

  std::map<std::string, std::string> environment() const override { return variables; }
  bool isiOSAppOnMac() const override { return onMac; }
  bool isOperatingSystemAtLeast(platform::OperatingSystemVersion version) const override;
};

struct FakeAdSupport final : platform::AdSupport {
  platform::TrackingAuthorizationStatus status =
      platform::TrackingAuthorizationStatus::notDetermined;
  bool trackingEnabled = false;
  formats::Uuid identifier;

  platform::TrackingAuthorizationStatus trackingAuthorizationStatus() const override {
    return status;
  }
  bool isAdvertisingTrackingEnabled() const override { return trackingEnabled; }
  formats::Uuid advertisingIdentifier() const override { return identifier; }
};

struct FakeBundle final : platform::Bundle {
  formats::Dictionary info;
  std::optional<formats::Value> objectForInfoDictionaryKey(std::string_view key) const override;
};

struct FakeLocale final : platform::Locale {
  std::vector<std::string> languages;
  std::optional<std::string> region;
  std::vector<std::string> preferredLanguages() const override { return languages; }
  std::optional<std::string> regionCode() const override { return region; }
};

struct FakeApplication final : platform::Application {
  std::vector<std::string> schemes;  // lower case
  mutable std::vector<std::string> askedUrls;
  bool canOpenURL(const formats::Url& url) const override;
};

// A calendar on a fixed instant, in a time zone at a fixed offset from GMT.
struct FakeCalendar final : platform::Calendar {
  double time = 1'700'000'000;  // a Tuesday, 22:13:20 GMT
  std::int64_t gmtOffset = 0;
  int weekStart = 1;
  bool weekless = false;  // startOfWeek finds nothing

  double now() const override { return time; }
  std::int64_t secondsFromGMT(double) const override { return gmtOffset; }
  int firstWeekday() const override { return weekStart; }
  std::optional<double> startOfWeek(double instant) const override;
};

// The whole platform in memory, on a virtual clock. Tests drive the main loop themselves.
class InMemoryPlatform final : public platform::Platform {
 public:
  platform::Dispatch& dispatch() override { return dispatch_; }
  platform::NotificationCenter& notificationCenter() override { return notifications; }
  platform::Device& device() override { return fakeDevice; }
  platform::ProcessInfo& processInfo() override { return fakeProcessInfo; }
  platform::AdSupport& adSupport() override { return fakeAdSupport; }
  platform::Bundle& mainBundle() override { return fakeBundle; }
  platform::Locale& locale() override { return fakeLocale; }
  platform::Application& application() override { return fakeApplication; }
  platform::PaymentQueue& paymentQueue() override { return *paymentQueueInUse; }
  platform::KeychainServices& keychainServices() override { return *keychainInUse; }
  std::unique_ptr<platform::UbiquitousStore> makeUbiquitousStore() override {
    return cloud.makeStore();
  }
  std::unique_ptr<platform::UserDefaults> makeUserDefaults(std::string_view suiteName) override {
    return defaults.open(suiteName);
  }
  platform::UserDefaults& standardUserDefaults() override { return *standard_; }
  platform::FileManager& fileManager() override { return files; }
  platform::Calendar& calendar() override { return fakeCalendar; }
  void writeDiagnostic(std::string_view line) override { diagnostics(line); }

  platform::common::RunLoop& mainLoop() { return dispatch_.mainLoop(); }
  // Moves the virtual clock on by `by`, running each task and timer as it falls due, with the
  // clock at that timer's deadline, so work scheduled along the way fires in order too.
  void advance(platform::Clock::Duration by);
  // Posts a lifecycle notification as the platform does: with the application as object.
  void postLifecycle(std::string_view name);

  VirtualClock clock;
  platform::common::LocalNotificationCenter notifications;
  FakeDevice fakeDevice;
  FakeProcessInfo fakeProcessInfo;
  FakeAdSupport fakeAdSupport;
  FakeBundle fakeBundle;
  FakeLocale fakeLocale;
  FakeApplication fakeApplication;
  platform::common::SimulatedPaymentQueue payments;
  platform::PaymentQueue* paymentQueueInUse = &payments;
  InMemoryKeychain keychain;
  platform::KeychainServices* keychainInUse = &keychain;
  InMemoryCloud cloud{notifications};
  InMemoryDefaults defaults;
  InMemoryFiles files;
  FakeCalendar fakeCalendar;
  platform::DiagnosticSink diagnostics = platform::writeToStandardOutput;

 private:
  platform::common::LoopDispatch dispatch_{clock};
  std::unique_ptr<platform::UserDefaults> standard_ = defaults.open("com.example.app");
};

}  // namespace quorin::testing
