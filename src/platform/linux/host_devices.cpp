#include "platform/linux/host_devices.hpp"

#include <algorithm>
#include <mutex>
#include <shared_mutex>

#include "platform/host_device.hpp"
#include "platform/linux/cloud_account_location.hpp"
#include "platform/posix/files/container.hpp"
#include "platform/posix/files/file_io.hpp"

namespace quorin::platform::linux {
namespace {

struct MainThread {
  common::SteadyClock clock;
  common::RunLoop loop{clock};
};

std::mutex& registryMutex() {
  static std::mutex mutex;
  return mutex;
}
std::vector<std::weak_ptr<LinuxPlatform>>& registry() {
  static std::vector<std::weak_ptr<LinuxPlatform>> devices;
  return devices;
}

// Readers hold the lock while the sink runs, so that a replaced sink is never called after
// its replacement returns.
std::shared_mutex& sinkMutex() {
  static std::shared_mutex mutex;
  return mutex;
}
DiagnosticSink& sinkSlot() {
  static DiagnosticSink sink;
  return sink;
}

void writeHostDiagnostic(std::string_view line) {
  std::shared_lock lock(sinkMutex());
  if (const auto& sink = sinkSlot()) {
    sink(line);
  } else {
    writeToStandardOutput(line);
  }
}

bool isNonEmpty(const std::optional<std::string>& text) {
  return !text || !text->empty();
}

// A path is read at first use, perhaps after the host changed its working directory: only
// one that names the same file wherever the process stands is taken.
bool namesOnlyAbsolutePaths(const QRNDeviceOptions& options) {
  if (options.infoPlist && !std::filesystem::path(*options.infoPlist).is_absolute()) return false;
  return !options.cloudAccount || !relativePathIn(*options.cloudAccount);
}

// A directory account is made on first use only where its parent directory exists, as a
// container is, so that a mistyped path is refused rather than made.
bool isAccountPlace(const std::optional<std::string>& location) {
  if (!location || isCloudAccountUrl(*location)) return true;
  std::error_code error;
  auto standing = std::filesystem::status(*location, error);
  if (std::filesystem::exists(standing)) return std::filesystem::is_directory(standing);
  return std::filesystem::is_directory(posix::parentDirectory(*location), error);
}

QRNDeviceStatus check(const QRNDeviceOptions& options) {
  if (options.container.empty() || !std::filesystem::path(options.container).is_absolute())
    return QRNDeviceStatus::relativeContainer;
  if (!isNonEmpty(options.cloudAccount) || !isNonEmpty(options.infoPlist))
    return QRNDeviceStatus::invalidOptions;
  if (options.cloudAccount && cloudAccountLocationProblem(*options.cloudAccount))
    return QRNDeviceStatus::invalidOptions;
  if (!namesOnlyAbsolutePaths(options)) return QRNDeviceStatus::invalidOptions;
  if (!isAccountPlace(options.cloudAccount)) return QRNDeviceStatus::unusableCloudAccount;
  if (options.keyStore &&
      (options.keychainKey || (*options.keyStore != posix::kSecretServiceKeyStore &&
                               *options.keyStore != posix::kKeyFileKeyStore)))
    return QRNDeviceStatus::invalidOptions;
  return QRNDeviceStatus::ok;
}

posix::KeychainKeyOptions keyOptions(const QRNDeviceOptions& options) {
  if (options.keychainKey) return {.hostKey = *options.keychainKey};
  if (options.keyStore) return {.store = *options.keyStore};
  return defaultKeychainKeyOptions();
}

}  // namespace

std::shared_ptr<common::RunLoop> processMainLoop() {
  // The clock lives and dies with the loop that reads it.
  static const auto mainThread = std::make_shared<MainThread>();
  return {mainThread, &mainThread->loop};
}

std::shared_ptr<LinuxPlatform> makeHostDevice(LinuxPlatformOptions options) {
  options.mainLoop = processMainLoop();
  options.diagnostics = writeHostDiagnostic;
  auto device = std::make_shared<LinuxPlatform>(std::move(options));
  std::lock_guard lock(registryMutex());
  std::erase_if(registry(), [](const auto& known) { return known.expired(); });
  registry().push_back(device);
  return device;
}

std::vector<std::shared_ptr<LinuxPlatform>> hostDevices() {
  std::lock_guard lock(registryMutex());
  std::vector<std::shared_ptr<LinuxPlatform>> live;
  for (const auto& known : registry()) {
    if (auto device = known.lock()) live.push_back(std::move(device));
  }
  return live;
}

}  // namespace quorin::platform::linux

QRNDeviceStatus quorin::platform::openHostDevice(const QRNDeviceOptions& options,
                                                 std::shared_ptr<Platform>& device) {
  device.reset();
  if (auto status = linux::check(options); status != QRNDeviceStatus::ok) return status;
  // Before anything of the device is set up, so that a refused one leaves nothing behind.
  if (posix::openContainer(options.container).problem) return QRNDeviceStatus::unusableContainer;
  linux::LinuxPlatformOptions made{.container = options.container,
                                   .cloudAccount = options.cloudAccount,
                                   .keychainKey = linux::keyOptions(options)};
  if (options.infoPlist) made.infoPlist = *options.infoPlist;
  device = linux::makeHostDevice(std::move(made));
  return QRNDeviceStatus::ok;
}

QRNDeviceStatus quorin::platform::useHostDevice(const QRNDeviceOptions& options) {
  std::shared_ptr<Platform> device;
  auto status = openHostDevice(options, device);
  if (status == QRNDeviceStatus::ok) setDefaultPlatform(std::move(device));
  return status;
}

void quorin::platform::setHostDiagnosticSink(DiagnosticSink sink) {
  std::unique_lock lock(linux::sinkMutex());
  linux::sinkSlot() = std::move(sink);
}
