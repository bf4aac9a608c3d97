#include "cloud/cloud_key_value_store.hpp"

#include <algorithm>

#include "cloud/dispatch_timer.hpp"

namespace quorin::cloud {
namespace {

std::optional<std::string> stringValue(const std::optional<formats::Value>& value) {
  const std::string* text = value ? value->get<std::string>() : nullptr;
  return text ? std::optional<std::string>(*text) : std::nullopt;
}

struct ExternalChange {
  platform::UbiquitousChangeReason reason;
  const formats::Array& keys;

  bool answersReads() const {
    using enum platform::UbiquitousChangeReason;
    return reason == serverChange || reason == initialSyncChange;
  }
};

// The reason and the changed keys, all strings and at least one; none for a notification
// of any other shape.
std::optional<ExternalChange> readChange(const platform::Notification& notification) {
  if (!notification.userInfo) return std::nullopt;
  const auto& info = *notification.userInfo;
  auto reason = info.find(platform::kUbiquitousKeyValueStoreChangeReasonKey);
  const auto* code = reason == info.end() ? nullptr : reason->second.get<std::int64_t>();
  if (!code) return std::nullopt;
  auto changed = info.find(platform::kUbiquitousKeyValueStoreChangedKeysKey);
  const auto* keys = changed == info.end() ? nullptr : changed->second.get<formats::Array>();
  if (!keys || keys->empty() || !std::all_of(keys->begin(), keys->end(), [](const auto& key) {
        return key.template is<std::string>();
      }))
    return std::nullopt;
  return ExternalChange{static_cast<platform::UbiquitousChangeReason>(*code), *keys};
}

std::vector<std::string> keyList(const formats::Array& keys) {
  std::vector<std::string> list;
  list.reserve(keys.size());
  for (const auto& key : keys) list.push_back(*key.get<std::string>());
  return list;
}

}  // namespace

std::shared_ptr<CloudKeyValueStore> CloudKeyValueStore::make(platform::Platform& platform,
                                                             ChangeObserver onChange) {
  std::shared_ptr<CloudKeyValueStore> store(new CloudKeyValueStore(platform, std::move(onChange)));
  store->observeExternalChanges();
  store->store_->synchronize();
  return store;
}

CloudKeyValueStore::CloudKeyValueStore(platform::Platform& platform, ChangeObserver onChange)
    : platform_(platform),
      onChange_(std::move(onChange)),
      store_(platform.makeUbiquitousStore()) {}

CloudKeyValueStore::~CloudKeyValueStore() {
  platform_.notificationCenter().removeObserver(observation_);
}

void CloudKeyValueStore::observeExternalChanges() {
  observation_ = platform_.notificationCenter().addObserverForName(
      std::string(platform::kUbiquitousKeyValueStoreDidChangeExternallyNotification), store_.get(),
      platform_.dispatch().mainQueue(),
      [weak = weak_from_this()](const platform::Notification& notification) {
        if (auto self = weak.lock()) self->storeDidChangeExternally(notification);
      });
}

void CloudKeyValueStore::fetchValue(const std::string& key, Completion completion) {
  std::unique_lock lock(mutex_);
  if (auto value = stringValue(store_->objectForKey(key))) {
    lock.unlock();
    completion(value);
    return;
  }
  if (auto it = entries_.find(key); it != entries_.end()) {
    it->second.blocks.push_back(std::move(completion));
    return;
  }
  auto timer =
      DispatchTimer::make(platform_.dispatch(), waitTimeout, [weak = weak_from_this(), key] {
        if (auto self = weak.lock()) self->timeOut(key);
      });
  KeyEntry& entry = entries_[key];
  entry.timeoutTimer = std::move(timer);
  entry.blocks.push_back(std::move(completion));
  entry.timeoutTimer->resume();
}

void CloudKeyValueStore::setValue(const std::string& value, const std::string& key) {
  store_->setObject(formats::Value(value), key);
  store_->synchronize();
}

void CloudKeyValueStore::removeValue(const std::string& key) {
  store_->removeObject(key);
  store_->synchronize();
}

std::size_t CloudKeyValueStore::waitingKeyCount() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

std::optional<CloudKeyValueStore::KeyEntry> CloudKeyValueStore::takeEntry(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto node = entries_.extract(key);
  if (node.empty()) return std::nullopt;
  return std::move(node.mapped());
}

// Every read of the key is answered, in the order of the reads: a caller waiting on each
// read would otherwise wait for ever.
void CloudKeyValueStore::timeOut(const std::string& key) {
  auto entry = takeEntry(key);
  if (!entry) return;
  for (const auto& block : entry->blocks) block(std::nullopt);
}

void CloudKeyValueStore::storeDidChangeExternally(const platform::Notification& notification) {
  auto change = readChange(notification);
  if (!change) return;
  if (change->answersReads()) answerReads(change->keys);
  if (onChange_) onChange_(change->reason, keyList(change->keys));
}

void CloudKeyValueStore::answerReads(const formats::Array& keys) {
  for (const auto& item : keys) {
    const auto& key = *item.get<std::string>();
    auto value = store_->objectForKey(key);
    if (!value) continue;
    // Out of the map before any reader runs, so a reader that reads again waits anew.
    auto entry = takeEntry(key);
    if (!entry) continue;
    auto text = stringValue(value);
    for (const auto& block : entry->blocks) block(text);
  }
}

}  // namespace quorin::cloud
