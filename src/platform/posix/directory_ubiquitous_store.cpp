#include "platform/posix/directory_ubiquitous_store.hpp"

#include <chrono>
#include <utility>

#include "platform/posix/device_profile.hpp"
#include "platform/posix/file_io.hpp"
#include "platform/posix/plist_codec.hpp"

namespace quorin::platform::posix {
namespace {

std::int64_t nanosecondsSince1970() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

std::filesystem::path createdDirectory(const CloudAccountSelection& account) {
  auto directory = account.directory();
  makeDirectories(directory, 0700);
  return directory;
}

std::optional<Value> decode(const std::optional<std::string>& encoded) {
  return encoded ? parsePlist(*encoded) : std::nullopt;
}

}  // namespace

DirectoryUbiquitousStore::DirectoryUbiquitousStore(
    std::shared_ptr<CloudAccountSelection> account, NotificationCenter& center)
    : account_(std::move(account)),
      center_(center),
      device_(randomUuid().uuidString()),
      database_(std::make_unique<CloudAccountDatabase>(createdDirectory(*account_))),
      watcher_(database_->directory(), std::string(CloudAccountDatabase::fileName),
               [this] { synchronize(); }),
      listener_(account_->listen([this] { watcher_.kick(); })) {}

DirectoryUbiquitousStore::~DirectoryUbiquitousStore() {
  account_->unlisten(listener_);
}

std::optional<Value> DirectoryUbiquitousStore::objectForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void DirectoryUbiquitousStore::setObject(Value value, std::string_view key) {
  auto encoded = serializePlist(value, PlistFormat::binary);
  if (!encoded) return;
  std::lock_guard lock(mutex_);
  values_.insert_or_assign(std::string(key), std::move(value));
  record(key, std::move(encoded));
}

void DirectoryUbiquitousStore::removeObject(std::string_view key) {
  std::lock_guard lock(mutex_);
  if (auto it = values_.find(key); it != values_.end()) values_.erase(it);
  record(key, std::nullopt);
}

// Write times only grow, so a later local write always wins over an earlier one.
void DirectoryUbiquitousStore::record(std::string_view key, std::optional<std::string> encoded) {
  lastWriteTime_ = std::max(nanosecondsSince1970(), lastWriteTime_ + 1);
  pending_.insert_or_assign(std::string(key),
                            CloudWrite{std::string(key), std::move(encoded), lastWriteTime_});
}

bool DirectoryUbiquitousStore::synchronize() {
  std::lock_guard exchange(exchangeMutex_);
  Keys refused, changed, switched;
  auto directory = account_->directory();
  if (directory != database_->directory() && !switchAccount(directory, switched)) return false;
  bool exchanged = push(refused, changed) && pull(changed);
  auto reason = pulled_ ? UbiquitousChangeReason::serverChange
                        : UbiquitousChangeReason::initialSyncChange;
  if (exchanged) pulled_ = true;
  post(UbiquitousChangeReason::accountChange, switched.list);
  post(UbiquitousChangeReason::quotaViolationChange, refused.list);
  post(reason, changed.list);
  return exchanged;
}

bool DirectoryUbiquitousStore::push(Keys& refused, Keys& changed) {
  std::vector<CloudWrite> writes;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [key, write] : pending_) writes.push_back(write);
  }
  std::vector<CloudWriteOutcome> outcomes;
  if (!database_->push(writes, device_, outcomes)) return false;
  {
    std::lock_guard lock(mutex_);
    for (const auto& write : writes) {
      auto it = pending_.find(write.key);
      if (it != pending_.end() && it->second.writtenAt == write.writtenAt) pending_.erase(it);
    }
  }
  for (std::size_t i = 0; i < writes.size(); ++i) {
    if (outcomes[i] == CloudWriteOutcome::applied) continue;
    // The account keeps its own value; so does the local copy from now on.
    std::optional<std::string> current;
    if (!database_->current(writes[i].key, current)) return false;
    bool differs = adopt(writes[i].key, current);
    if (outcomes[i] == CloudWriteOutcome::refused) {
      refused.add(writes[i].key);
    } else if (differs) {
      changed.add(writes[i].key);
    }
  }
  return true;
}

bool DirectoryUbiquitousStore::pull(Keys& changed) {
  std::vector<CloudRow> rows;
  if (!database_->changesSince(accountVersion_, rows)) return false;
  for (const auto& row : rows) {
    if (adopt(row.key, row.encoded)) changed.add(row.key);
    accountVersion_ = row.version;
  }
  return true;
}

// Writes not yet pushed belong to the account they were made in. The local copy then
// becomes the new account's, and every key that differs between the two is reported.
bool DirectoryUbiquitousStore::switchAccount(const std::filesystem::path& directory,
                                             Keys& changed) {
  Keys ignored;
  push(ignored, ignored);
  makeDirectories(directory, 0700);
  auto database = std::make_unique<CloudAccountDatabase>(directory);
  std::vector<CloudRow> rows;
  if (!database->changesSince(0, rows)) return false;
  database_ = std::move(database);
  watcher_.retarget(directory);
  std::map<std::string, Value, std::less<>> previous;
  {
    std::lock_guard lock(mutex_);
    previous = std::exchange(values_, {});
    pending_.clear();
  }
  for (const auto& row : rows) {
    adopt(row.key, row.encoded);
    accountVersion_ = row.version;
  }
  std::lock_guard lock(mutex_);
  for (const auto& [key, value] : previous) {
    auto now = values_.find(key);
    if (now == values_.end() || now->second != value) changed.add(key);
  }
  for (const auto& [key, value] : values_) {
    if (!previous.contains(key)) changed.add(key);
  }
  pulled_ = true;
  return true;
}

bool DirectoryUbiquitousStore::adopt(const std::string& key,
                                     const std::optional<std::string>& encoded) {
  auto value = decode(encoded);
  std::lock_guard lock(mutex_);
  if (pending_.contains(key)) return false;
  auto it = values_.find(key);
  if (!value) {
    if (it == values_.end()) return false;
    values_.erase(it);
    return true;
  }
  if (it != values_.end() && it->second == *value) return false;
  values_.insert_or_assign(key, std::move(*value));
  return true;
}

void DirectoryUbiquitousStore::post(UbiquitousChangeReason reason,
                                    const std::vector<std::string>& keys) {
  if (keys.empty()) return;
  center_.post({std::string(kUbiquitousKeyValueStoreDidChangeExternallyNotification),
                static_cast<const UbiquitousStore*>(this),
                Dictionary{{std::string(kUbiquitousKeyValueStoreChangeReasonKey),
                            static_cast<std::int64_t>(reason)},
                           {std::string(kUbiquitousKeyValueStoreChangedKeysKey),
                            Array(keys.begin(), keys.end())}}});
}

std::optional<std::string> DirectoryUbiquitousStore::problem() {
  std::lock_guard exchange(exchangeMutex_);
  return database_->problem();
}

}  // namespace quorin::platform::posix
