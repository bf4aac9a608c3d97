#include "support/in_memory_cloud.hpp"

#include <algorithm>

namespace quorin::testing {

class InMemoryUbiquitousStore final : public platform::UbiquitousStore {
 public:
  explicit InMemoryUbiquitousStore(InMemoryCloud& cloud) : cloud_(cloud) {
    std::lock_guard lock(cloud_.mutex_);
    cloud_.stores_.push_back(this);
  }
  ~InMemoryUbiquitousStore() override {
    std::lock_guard lock(cloud_.mutex_);
    std::erase(cloud_.stores_, this);
  }

  std::optional<formats::Value> objectForKey(std::string_view key) const override {
    return cloud_.value(key);
  }
  void setObject(formats::Value value, std::string_view key) override {
    std::lock_guard lock(cloud_.mutex_);
    cloud_.values_.insert_or_assign(std::string(key), std::move(value));
  }
  void removeObject(std::string_view key) override {
    std::lock_guard lock(cloud_.mutex_);
    if (auto it = cloud_.values_.find(key); it != cloud_.values_.end()) cloud_.values_.erase(it);
  }
  bool synchronize() override {
    std::lock_guard lock(cloud_.mutex_);
    ++cloud_.synchronizations_;
    return true;
  }

 private:
  InMemoryCloud& cloud_;
};

std::unique_ptr<platform::UbiquitousStore> InMemoryCloud::makeStore() {
  return std::make_unique<InMemoryUbiquitousStore>(*this);
}

void InMemoryCloud::setObjectDirectly(const std::string& key, formats::Value value) {
  std::lock_guard lock(mutex_);
  values_.insert_or_assign(key, std::move(value));
}

void InMemoryCloud::writeFromOtherDevice(const std::string& key, formats::Value value) {
  setObjectDirectly(key, std::move(value));
  postChange(platform::UbiquitousChangeReason::serverChange, {key});
}

void InMemoryCloud::removeFromOtherDevice(const std::string& key) {
  {
    std::lock_guard lock(mutex_);
    values_.erase(key);
  }
  postChange(platform::UbiquitousChangeReason::serverChange, {key});
}

void InMemoryCloud::postChange(platform::UbiquitousChangeReason reason,
                               const std::vector<std::string>& keys) {
  formats::Array list(keys.begin(), keys.end());
  postChange(formats::Dictionary{
      {std::string(platform::kUbiquitousKeyValueStoreChangeReasonKey),
       static_cast<std::int64_t>(reason)},
      {std::string(platform::kUbiquitousKeyValueStoreChangedKeysKey), std::move(list)}});
}

void InMemoryCloud::postChange(std::optional<formats::Dictionary> userInfo) {
  std::vector<const InMemoryUbiquitousStore*> stores;
  {
    std::lock_guard lock(mutex_);
    stores = stores_;
  }
  for (const auto* store : stores) {
    center_.post({std::string(platform::kUbiquitousKeyValueStoreDidChangeExternallyNotification),
                  store, userInfo});
  }
}

std::optional<formats::Value> InMemoryCloud::value(std::string_view key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::size_t InMemoryCloud::liveStores() const {
  std::lock_guard lock(mutex_);
  return stores_.size();
}

int InMemoryCloud::synchronizeCount() const {
  std::lock_guard lock(mutex_);
  return synchronizations_;
}

}  // namespace quorin::testing
