#include "support/cloud_device.hpp"

namespace quorin::testing {

using namespace platform;

CloudDevice::CloudDevice(std::shared_ptr<posix::CloudAccountSelection> account,
                         const std::filesystem::path& journals,
                         common::LocalNotificationCenter& center, Sync sync)
    : center_(center), store(std::move(account), journals, center) {
  center_.addObserver(this, std::string(kUbiquitousKeyValueStoreDidChangeExternallyNotification),
                      static_cast<const UbiquitousStore*>(&store),
                      [this](const Notification& notification) { record(notification); });
  if (sync == Sync::watching) store.synchronize();  // as the facade does
}

CloudDevice::~CloudDevice() {
  center_.removeObserver(this, kUbiquitousKeyValueStoreDidChangeExternallyNotification,
                         static_cast<const UbiquitousStore*>(&store));
}

std::vector<CloudChange> CloudDevice::takeChanges() {
  std::lock_guard lock(mutex_);
  return std::exchange(changes_, {});
}

bool CloudDevice::waitForChange(std::chrono::seconds limit) {
  std::unique_lock lock(mutex_);
  return arrived_.wait_for(lock, limit, [&] { return !changes_.empty(); });
}

std::optional<std::string> CloudDevice::text(std::string_view key) const {
  auto value = store.objectForKey(key);
  const auto* text = value ? value->get<std::string>() : nullptr;
  return text ? std::optional<std::string>(*text) : std::nullopt;
}

void CloudDevice::record(const Notification& notification) {
  const auto& info = *notification.userInfo;
  CloudChange change{
      *info.find(kUbiquitousKeyValueStoreChangeReasonKey)->second.get<std::int64_t>(), {}};
  for (const auto& key :
       *info.find(kUbiquitousKeyValueStoreChangedKeysKey)->second.get<formats::Array>())
    change.keys.push_back(*key.get<std::string>());
  std::lock_guard lock(mutex_);
  changes_.push_back(std::move(change));
  arrived_.notify_all();
}

}  // namespace quorin::testing
