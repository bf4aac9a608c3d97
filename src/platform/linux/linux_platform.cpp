#include "platform/linux/linux_platform.hpp"

#include <cstdlib>
#include <mutex>

#include "platform/linux/cloud_account_location.hpp"
#include "platform/linux/host_devices.hpp"
#include "platform/posix/files/file_io.hpp"

namespace quorin::platform::linux {
namespace {

std::filesystem::path userDataDirectory() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome && dataHome[0] == '/') return std::filesystem::path(dataHome) / "quorin";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && home[0] ? home : ".") / ".local" / "share" / "quorin";
}

// The application's own suite is named after its bundle identifier, as on iOS.
std::string standardSuiteName(const Bundle& bundle) {
  auto identifier = bundle.objectForInfoDictionaryKey("CFBundleIdentifier");
  const auto* name = identifier ? identifier->get<std::string>() : nullptr;
  return name && posix::isSuiteName(*name) ? *name : "quorin";
}

// The default account's parent directories are the library's own, as the default container's
// are; a named account's parent must exist.
std::string accountOrDefault(const std::optional<std::string>& named) {
  if (named) return *named;
  auto account = defaultCloudAccountPath();
  posix::makeDirectories(account.parent_path(), 0700);
  return account.string();
}

}  // namespace

std::filesystem::path defaultContainerPath() {
  return userDataDirectory() / "containers" / "default";
}

std::filesystem::path defaultCloudAccountPath() {
  return userDataDirectory() / "cloud" / "default";
}

void makeDefaultContainerParent() {
  posix::makeDirectories(defaultContainerPath().parent_path(), 0700);
}

LinuxPlatform::LinuxPlatform(LinuxPlatformOptions options)
    : options_(std::move(options)),
      opened_(posix::openContainer(options_.container)),
      dispatch_(clock_,
                options_.mainLoop ? options_.mainLoop : std::make_shared<common::RunLoop>(clock_)),
      loaded_(posix::loadDeviceProfile(options_.container)),
      bundle_(options_.infoPlist),
      locale_(processInfo_.environment()),
      application_(processInfo_.environment()),
      paymentQueue_(loaded_.profile.storefront),
      keychain_(
          {options_.container, std::filesystem::path("Library") / "Keychains" / "keychain.db"},
          options_.keychainKey),
      cloudAccount_(std::make_shared<posix::CloudAccountSelection>(
          accountOrDefault(options_.cloudAccount), cloudAccountKinds())),
      standardDefaults_(posix::PlistUserDefaults::open(preferences(), standardSuiteName(bundle_))) {
}

std::unique_ptr<UserDefaults> LinuxPlatform::makeUserDefaults(std::string_view suiteName) {
  return posix::PlistUserDefaults::open(preferences(), suiteName);
}

std::unique_ptr<UbiquitousStore> LinuxPlatform::makeUbiquitousStore() {
  return makeReplicaStore();
}

std::unique_ptr<posix::ReplicaUbiquitousStore> LinuxPlatform::makeReplicaStore() {
  return std::make_unique<posix::ReplicaUbiquitousStore>(
      cloudAccount_, posix::DatabaseLocation(options_.container, "Library/Cloud"),
      notificationCenter_);
}

void LinuxPlatform::switchCloudAccount(std::string location) {
  cloudAccount_->switchTo(std::move(location));
}

std::optional<std::string> LinuxPlatform::cloudProblem() const {
  return probeCloudAccount(cloudAccount_->location());
}

namespace {

std::mutex& defaultMutex() {
  static std::mutex mutex;
  return mutex;
}
std::shared_ptr<Platform>& defaultSlot() {
  static std::shared_ptr<Platform> slot;
  return slot;
}
std::optional<posix::KeychainKey>& defaultKeySlot() {
  static std::optional<posix::KeychainKey> key;
  return key;
}

}  // namespace

posix::KeychainKeyOptions defaultKeychainKeyOptions() {
  std::lock_guard lock(defaultMutex());
  return {.hostKey = defaultKeySlot()};
}

}  // namespace quorin::platform::linux

std::shared_ptr<quorin::platform::Platform> quorin::platform::defaultPlatform() {
  std::lock_guard lock(linux::defaultMutex());
  auto& slot = linux::defaultSlot();
  if (!slot) {
    linux::makeDefaultContainerParent();
    slot = linux::makeHostDevice({.container = linux::defaultContainerPath(),
                                  .keychainKey = {.hostKey = linux::defaultKeySlot()}});
  }
  return slot;
}

void quorin::platform::setDefaultPlatform(std::shared_ptr<Platform> platform) {
  std::lock_guard lock(linux::defaultMutex());
  linux::defaultSlot() = std::move(platform);
}

bool quorin::platform::setDefaultKeychainKey(std::span<const std::uint8_t> key) {
  posix::KeychainKey copy;
  if (key.size() != copy.size()) return false;
  std::copy(key.begin(), key.end(), copy.begin());
  std::lock_guard lock(linux::defaultMutex());
  linux::defaultKeySlot() = copy;
  return true;
}
