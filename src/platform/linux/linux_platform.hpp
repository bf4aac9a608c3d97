#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/common/local_notification_center.hpp"
#include "platform/common/loop_dispatch.hpp"
#include "platform/common/payment_queue.hpp"
#include "platform/platform.hpp"
#include "platform/posix/cloud/cloud_account_selection.hpp"
#include "platform/posix/cloud/replica_ubiquitous_store.hpp"
#include "platform/posix/device/device_profile.hpp"
#include "platform/posix/device/environment_locale.hpp"
#include "platform/posix/device/info_plist_bundle.hpp"
#include "platform/posix/device/profile_services.hpp"
#include "platform/posix/device/scheme_handlers.hpp"
#include "platform/posix/device/system_calendar.hpp"
#include "platform/posix/files/container.hpp"
#include "platform/posix/files/container_file_manager.hpp"
#include "platform/posix/files/plist_user_defaults.hpp"
#include "platform/posix/keychain/sqlite_keychain.hpp"

namespace quorin::platform::linux {

struct LinuxPlatformOptions {
  // The device's sandbox; made on first use when its parent directory exists.
  std::filesystem::path container;
  // The application's Info.plist, if it has one.
  std::optional<std::filesystem::path> infoPlist = std::nullopt;
  // The account the device's cloud key-value store syncs through: a directory, or a
  // `redis://` or `unix://` URL. The default directory is shared by every container of
  // the user.
  std::optional<std::string> cloudAccount = std::nullopt;
  // Where the key that seals the keychain comes from.
  posix::KeychainKeyOptions keychainKey = {};
  // The main thread's run loop, which the devices of a host share; one of the device's own
  // when none.
  std::shared_ptr<common::RunLoop> mainLoop = nullptr;
  // Where the library's diagnostic lines go.
  DiagnosticSink diagnostics = writeToStandardOutput;
};

// `$XDG_DATA_HOME/quorin/containers/default`, or under `~/.local/share` without it.
std::filesystem::path defaultContainerPath();
// `$XDG_DATA_HOME/quorin/cloud/default`, or under `~/.local/share` without it.
std::filesystem::path defaultCloudAccountPath();
// Makes the directories that hold the default container, which are the library's own.
void makeDefaultContainerParent();
// What the host set with setDefaultKeychainKey(), for the default platforms.
posix::KeychainKeyOptions defaultKeychainKeyOptions();

// A device on this machine: a container directory, the process's environment and the
// machine's own uname. The host drives the main run loop.
class LinuxPlatform final : public Platform {
 public:
  explicit LinuxPlatform(LinuxPlatformOptions options);

  Dispatch& dispatch() override { return dispatch_; }
  NotificationCenter& notificationCenter() override { return notificationCenter_; }
  Device& device() override { return device_; }
  ProcessInfo& processInfo() override { return processInfo_; }
  AdSupport& adSupport() override { return adSupport_; }
  Bundle& mainBundle() override { return bundle_; }
  Locale& locale() override { return locale_; }
  Application& application() override { return application_; }
  PaymentQueue& paymentQueue() override { return paymentQueue_; }
  KeychainServices& keychainServices() override { return keychain_; }
  std::unique_ptr<UbiquitousStore> makeUbiquitousStore() override;
  std::unique_ptr<UserDefaults> makeUserDefaults(std::string_view suiteName) override;
  UserDefaults& standardUserDefaults() override { return *standardDefaults_; }
  FileManager& fileManager() override { return fileManager_; }
  Calendar& calendar() override { return calendar_; }
  void writeDiagnostic(std::string_view line) override { options_.diagnostics(line); }

  common::RunLoop& mainLoop() { return dispatch_.mainLoop(); }
  common::SimulatedPaymentQueue& simulatedPaymentQueue() { return paymentQueue_; }
  posix::SqliteKeychain& keychain() { return keychain_; }
  posix::ContainerFileManager& containerFiles() { return fileManager_; }
  const std::filesystem::path& container() const { return options_.container; }
  // Whether the container was made for this platform, and why it cannot be used, if so.
  const posix::OpenedContainer& openedContainer() const { return opened_; }
  std::filesystem::path preferences() const {
    return options_.container / "Library" / "Preferences";
  }
  // Open cloud stores move to `location` and report the switch as an account change.
  void switchCloudAccount(std::string location);
  // Why the cloud account cannot be used, or none; a server is asked on the calling thread.
  std::optional<std::string> cloudProblem() const;
  // A store with its status, for hosts that report how the device stands with its account.
  std::unique_ptr<posix::ReplicaUbiquitousStore> makeReplicaStore();
  // Why the container's device profile could not be used as it is, or none.
  const std::optional<std::string>& profileProblem() const { return loaded_.problem; }

 private:
  LinuxPlatformOptions options_;
  posix::OpenedContainer opened_;
  common::SteadyClock clock_;
  common::LoopDispatch dispatch_;
  common::LocalNotificationCenter notificationCenter_;
  posix::LoadedProfile loaded_;
  posix::ProfileDevice device_{loaded_.profile};
  posix::ProfileProcessInfo processInfo_{loaded_.profile};
  posix::ProfileAdSupport adSupport_{loaded_.profile};
  posix::InfoPlistBundle bundle_;
  posix::EnvironmentLocale locale_;
  posix::XdgApplication application_;
  common::SimulatedPaymentQueue paymentQueue_;
  posix::SqliteKeychain keychain_;
  std::shared_ptr<posix::CloudAccountSelection> cloudAccount_;
  std::unique_ptr<posix::PlistUserDefaults> standardDefaults_;
  posix::ContainerFileManager fileManager_{options_.container};
  posix::SystemCalendar calendar_;
};

}  // namespace quorin::platform::linux
