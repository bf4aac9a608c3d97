#include "platform/posix/posix_platform.hpp"

#include <cstdlib>
#include <mutex>

namespace quorin::platform::posix {
std::filesystem::path defaultContainerPath() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  std::filesystem::path base;
  if (dataHome && dataHome[0] == '/') {
    base = dataHome;
  } else {
    const char* home = std::getenv("HOME");
    base = std::filesystem::path(home && home[0] ? home : ".") / ".local" / "share";
  }
  return base / "quorin" / "containers" / "default";
}

PosixPlatform::PosixPlatform(PosixPlatformOptions options)
    : options_(std::move(options)),
      loaded_(loadDeviceProfile(options_.container)),
      bundle_(options_.infoPlist),
      locale_(processInfo_.environment()),
      application_(processInfo_.environment()),
      paymentQueue_(loaded_.profile.storefront),
      keychain_(options_.container / "Library" / "Keychains" / "keychain.db") {}

std::shared_ptr<Platform> makeDefaultPlatform() {
  return std::make_shared<PosixPlatform>(PosixPlatformOptions{defaultContainerPath(), {}});
}

}  // namespace quorin::platform::posix

namespace quorin::platform {
namespace {

std::mutex& defaultMutex() {
  static std::mutex mutex;
  return mutex;
}
std::shared_ptr<Platform>& defaultSlot() {
  static std::shared_ptr<Platform> slot;
  return slot;
}

}  // namespace

std::shared_ptr<Platform> defaultPlatform() {
  std::lock_guard lock(defaultMutex());
  auto& slot = defaultSlot();
  if (!slot) slot = posix::makeDefaultPlatform();
  return slot;
}

void setDefaultPlatform(std::shared_ptr<Platform> platform) {
  std::lock_guard lock(defaultMutex());
  defaultSlot() = std::move(platform);
}

}  // namespace quorin::platform
