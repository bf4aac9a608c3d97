#include "platform/posix/cloud/replica_ubiquitous_store.hpp"

#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "formats/plist_codec.hpp"
#include "platform/common/retry_delay.hpp"
#include "platform/posix/device/device_profile.hpp"
#include "platform/posix/files/file_io.hpp"

namespace quorin::platform::posix {
namespace {

using namespace std::chrono_literals;

constexpr auto kFirstRetry = 100ms;
constexpr auto kLongestRetry = 10000ms;

std::optional<formats::Value> decode(const std::optional<std::string>& encoded) {
  return encoded ? formats::parsePlist(*encoded) : std::nullopt;
}

// One journal per account, named so that the same account always finds it again.
DatabaseLocation journalPath(const DatabaseLocation& journals, const std::string& identity) {
  unsigned char digest[16];
  crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(identity.data()),
                     identity.size(), nullptr, 0);
  char hex[sizeof digest * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
  return {journals.root, journals.below / (std::string("account-") + hex + ".db")};
}

constexpr std::size_t kDeviceNameLength = 36;  // a UUID's text

std::optional<std::string> readDeviceName(const std::filesystem::path& path) {
  auto kept = readFile(path, kDeviceNameLength, FinalLink::refuse);
  if (kept && kept->size() == kDeviceNameLength) return kept;
  return std::nullopt;
}

// The device's name in the accounts' write stamps, kept in the container: a journal replayed
// after a crash then meets its own earlier push as the same write, not as a rival one. Made
// once, and whatever is kept is used, so that two processes making it at once take the same.
// None when it can be neither read nor kept: a name made up for one run would be a rival.
std::optional<std::string> deviceName(const DatabaseLocation& journals) {
  auto path = journals.file() / "device";
  if (auto kept = readDeviceName(path)) return kept;
  std::error_code error;
  auto mode = std::filesystem::exists(std::filesystem::symlink_status(path, error))
                  ? WriteMode::replace  // damaged: nothing it held can be the name
                  : WriteMode::createOnly;
  if (makeContainer(journals.root, 0700)) {
    AtomicFile file(openDirectoryBeneath(journals.root, journals.below, 0700), "device", 0600,
                    mode);
    if (file.append(randomUuid().uuidString())) file.commit();
  }
  return readDeviceName(path);
}

}  // namespace

ReplicaUbiquitousStore::ReplicaUbiquitousStore(std::shared_ptr<CloudAccountSelection> selection,
                                               DatabaseLocation journals,
                                               NotificationCenter& center)
    : selection_(std::move(selection)),
      journals_(std::move(journals)),
      center_(center),
      device_(deviceName(journals_)) {
  if (!device_)
    nameProblem_ = "cannot keep this device's name in " + (journals_.file() / "device").string();
  open(selection_->location());
  listener_ = selection_->listen([this] { kick(); });
  exchanges_ = std::thread([this] { runExchanges(); });
}

ReplicaUbiquitousStore::~ReplicaUbiquitousStore() {
  selection_->unlisten(listener_);
  {
    std::lock_guard lock(kickMutex_);
    stopping_ = true;
  }
  kicked_.notify_all();
  stopWaiting();
  exchanges_.join();
  // The account's own threads stop here, before anything they call into goes away.
  account_.reset();
}

// The local copy is what the account held when last seen, with the writes not yet pushed
// laid over it.
void ReplicaUbiquitousStore::open(const std::string& location) {
  location_ = location;
  auto account = selection_->kinds().open(location);
  auto journal = std::make_unique<CloudJournal>(
      journalPath(journals_, selection_->kinds().identity(location)));
  CloudJournal::Contents contents;
  journal->load(contents);
  accountVersion_ = contents.version;
  syncedAt_ = contents.syncedAt;
  pulled_ = false;
  {
    std::scoped_lock lock(journalMutex_, mutex_);
    values_.clear();
    pending_.clear();
    for (const auto& [key, encoded] : contents.values) {
      if (auto value = formats::parsePlist(encoded))
        values_.insert_or_assign(key, std::move(*value));
    }
    for (auto& write : contents.pending) {
      if (auto value = decode(write.encoded)) {
        values_.insert_or_assign(write.key, std::move(*value));
      } else {
        values_.erase(write.key);
      }
      lastWriteTime_ = std::max(lastWriteTime_, write.writtenAt);
      pending_.insert_or_assign(write.key, std::move(write));
    }
    journal_ = std::move(journal);
    account_ = std::move(account);
    if (closing_) account_->stopWaiting();
  }
  accountWatched_ = false;
}

// Other devices' writes are watched for once the host has asked for an exchange, as the
// platform's store starts to hear of them; a store opened for one exchange opens no watch.
void ReplicaUbiquitousStore::watchAccount() {
  if (!watching_ || accountWatched_) return;
  accountWatched_ = true;
  account_->watch([this] { kick(); });
}

std::optional<formats::Value> ReplicaUbiquitousStore::objectForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void ReplicaUbiquitousStore::setObject(formats::Value value, std::string_view key) {
  write(key, std::move(value));
}

void ReplicaUbiquitousStore::removeObject(std::string_view key) {
  write(key, std::nullopt);
}

bool ReplicaUbiquitousStore::write(std::string_view key,
                                   const std::optional<formats::Value>& value) {
  if (!value) return record(key, std::nullopt);
  auto encoded = formats::serializePlist(*value, formats::PlistFormat::binary);
  return encoded && record(key, std::move(encoded));
}

// Write times only grow, so a later local write always wins over an earlier one. The
// journal is written in the order of the writes, and before the caller goes on; a write it
// cannot keep is not made at all, so that none is pushed that a crash would have lost.
bool ReplicaUbiquitousStore::record(std::string_view key, std::optional<std::string> encoded) {
  if (!device_) return false;
  std::lock_guard journal(journalMutex_);
  CloudWrite write;
  {
    std::lock_guard lock(mutex_);
    lastWriteTime_ = std::max(account_->now(), lastWriteTime_ + 1);
    write = CloudWrite{std::string(key), std::move(encoded), lastWriteTime_};
  }
  if (!journal_->record(write)) return false;
  std::lock_guard lock(mutex_);
  if (auto value = decode(write.encoded)) {
    values_.insert_or_assign(write.key, std::move(*value));
  } else {
    values_.erase(write.key);
  }
  pending_.insert_or_assign(write.key, std::move(write));
  return true;
}

void ReplicaUbiquitousStore::kick() {
  {
    std::lock_guard lock(kickMutex_);
    kickPending_ = true;
  }
  kicked_.notify_one();
}

// A failed exchange is tried again without being asked: the account may never tell of a
// change that would start one, as when it comes back after being out of reach.
void ReplicaUbiquitousStore::runExchanges() {
  auto asked = [this] { return kickPending_ || stopping_; };
  common::RetryDelay retries(kFirstRetry, kLongestRetry);
  auto retry = kFirstRetry;
  bool failing = false;
  std::unique_lock lock(kickMutex_);
  while (true) {
    if (failing) {
      kicked_.wait_for(lock, retry, asked);
    } else {
      kicked_.wait(lock, asked);
    }
    bool last = stopping_;
    if (!std::exchange(kickPending_, false) && last) return;
    lock.unlock();
    bool exchanged = exchange();
    lock.lock();
    if (last) return;
    // A refusal that lasts waits to be asked again, as a success does.
    failing = !exchanged && !unusable_;
    if (failing) {
      retry = retries.afterFailure();
    } else {
      retries.reset();
    }
  }
}

// The exchange under way, and the last one asked for, take what they can get at once.
void ReplicaUbiquitousStore::stopWaiting() {
  std::lock_guard lock(mutex_);
  closing_ = true;
  account_->stopWaiting();
}

bool ReplicaUbiquitousStore::synchronize() {
  watching_ = true;
  kick();
  return !unusable_;
}

// Observers that run on this thread may ask for status() or exchange again: what changed is
// posted only once the exchange has let go of the store.
bool ReplicaUbiquitousStore::exchange() {
  Keys refused, changed, switched;
  UbiquitousChangeReason reason;
  bool exchanged = exchangeLocked(refused, changed, switched, reason);
  post(UbiquitousChangeReason::accountChange, switched.list);
  post(UbiquitousChangeReason::quotaViolationChange, refused.list);
  post(reason, changed.list);
  return exchanged;
}

bool ReplicaUbiquitousStore::exchangeLocked(Keys& refused, Keys& changed, Keys& switched,
                                            UbiquitousChangeReason& reason) {
  std::lock_guard exchangeLock(exchangeMutex_);
  if (auto location = selection_->location(); location != location_)
    switchAccount(location, switched);
  watchAccount();  // before the pull, so that no write slips between the two
  CloudJournal::Exchange learned;
  bool pushed = push(refused, changed, learned);
  bool exchanged = pushed && pull(changed, learned);
  reason =
      pulled_ ? UbiquitousChangeReason::serverChange : UbiquitousChangeReason::initialSyncChange;
  if (exchanged) pulled_ = true;
  if (pushed) settle(learned);
  {
    std::lock_guard journal(journalMutex_);
    unusable_ = !device_ || journal_->problem() || (!exchanged && account_->status().problem);
  }
  return exchanged;
}

bool ReplicaUbiquitousStore::push(Keys& refused, Keys& changed, CloudJournal::Exchange& exchange) {
  if (!device_) return false;
  std::vector<CloudWrite> writes;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [key, write] : pending_) writes.push_back(write);
  }
  std::vector<CloudWriteOutcome> outcomes;
  if (!account_->push(writes, *device_, outcomes)) return false;
  {
    std::lock_guard lock(mutex_);
    for (const auto& write : writes) {
      auto it = pending_.find(write.key);
      if (it != pending_.end() && it->second.writtenAt == write.writtenAt) pending_.erase(it);
    }
  }
  for (std::size_t i = 0; i < writes.size(); ++i) {
    exchange.pushed.push_back(writes[i]);
    if (outcomes[i] == CloudWriteOutcome::applied) {
      exchange.values.emplace_back(writes[i].key, writes[i].encoded);
      continue;
    }
    // The account keeps its own value; so does the local copy from now on.
    std::optional<std::string> current;
    if (!account_->current(writes[i].key, current)) return false;
    bool differs = adopt(writes[i].key, current, exchange);
    if (outcomes[i] == CloudWriteOutcome::refused) {
      refused.add(writes[i].key);
    } else if (differs) {
      changed.add(writes[i].key);
    }
  }
  return true;
}

bool ReplicaUbiquitousStore::pull(Keys& changed, CloudJournal::Exchange& exchange) {
  std::vector<CloudRow> rows;
  if (!account_->changesSince(accountVersion_, rows)) return false;
  for (const auto& row : rows) {
    if (adopt(row.key, row.encoded, exchange)) changed.add(row.key);
    accountVersion_ = row.version;
  }
  syncedAt_ = account_->now();
  return true;
}

// Writes not yet pushed stay in the journal of the account they were made in. The local
// copy becomes the new account's, and every key that differs between the two is reported.
void ReplicaUbiquitousStore::switchAccount(const std::string& location, Keys& changed) {
  Keys ignored;
  CloudJournal::Exchange last;
  if (push(ignored, ignored, last)) settle(last);
  std::map<std::string, formats::Value, std::less<>> previous;
  {
    std::lock_guard lock(mutex_);
    previous = values_;
  }
  open(location);
  CloudJournal::Exchange first;
  if (pull(ignored, first)) {
    pulled_ = true;
    settle(first);
  }
  std::lock_guard lock(mutex_);
  for (const auto& [key, value] : previous) {
    auto now = values_.find(key);
    if (now == values_.end() || now->second != value) changed.add(key);
  }
  for (const auto& [key, value] : values_) {
    if (!previous.contains(key)) changed.add(key);
  }
}

bool ReplicaUbiquitousStore::adopt(const std::string& key,
                                   const std::optional<std::string>& encoded,
                                   CloudJournal::Exchange& exchange) {
  exchange.values.emplace_back(key, encoded);
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

void ReplicaUbiquitousStore::settle(CloudJournal::Exchange& exchange) {
  exchange.version = accountVersion_;
  exchange.syncedAt = syncedAt_;
  std::lock_guard lock(journalMutex_);
  journal_->settle(exchange);
}

void ReplicaUbiquitousStore::post(UbiquitousChangeReason reason,
                                  const std::vector<std::string>& keys) {
  if (keys.empty()) return;
  center_.post({std::string(kUbiquitousKeyValueStoreDidChangeExternallyNotification),
                static_cast<const UbiquitousStore*>(this),
                formats::Dictionary{{std::string(kUbiquitousKeyValueStoreChangeReasonKey),
                                     static_cast<std::int64_t>(reason)},
                                    {std::string(kUbiquitousKeyValueStoreChangedKeysKey),
                                     formats::Array(keys.begin(), keys.end())}}});
}

ReplicaStatus ReplicaUbiquitousStore::status() {
  std::lock_guard exchangeLock(exchangeMutex_);
  ReplicaStatus status{account_->status(), 0, syncedAt_, std::nullopt};
  std::lock_guard journal(journalMutex_);
  status.journalProblem = device_ ? journal_->problem() : nameProblem_;
  std::lock_guard lock(mutex_);
  status.pendingWrites = pending_.size();
  return status;
}

}  // namespace quorin::platform::posix
