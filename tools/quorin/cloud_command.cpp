#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <iostream>

#include "formats/utf8.hpp"
#include "host.hpp"
#include "stdin_value.hpp"

namespace quorin::cli {
namespace {

using formats::Value;

// Longer waits are cut to this, which the clock still holds when added to the time now.
constexpr double kLongestWaitSeconds = 100.0 * 365 * 24 * 60 * 60;

// Whether the account refused a write of `key`: the store reports it as a quota change,
// on the thread that exchanged the write, before the exchange ends.
class QuotaWatch {
 public:
  QuotaWatch(platform::NotificationCenter& center, std::string key)
      : center_(center), key_(std::move(key)) {
    center_.addObserver(this, std::string(kName), nullptr, [this](const auto& notification) {
      if (lists(notification)) refused_ = true;
    });
  }
  ~QuotaWatch() { center_.removeObserver(this, kName, nullptr); }

  bool refused() const { return refused_; }

 private:
  static constexpr auto kName = platform::kUbiquitousKeyValueStoreDidChangeExternallyNotification;

  bool lists(const platform::Notification& notification) const {
    if (!notification.userInfo) return false;
    Value info(*notification.userInfo);
    const auto* reason = info.find(platform::kUbiquitousKeyValueStoreChangeReasonKey);
    const auto* keys = info.find(platform::kUbiquitousKeyValueStoreChangedKeysKey);
    if (!reason || !keys || !keys->is<formats::Array>() ||
        *reason != Value(static_cast<std::int64_t>(
                       platform::UbiquitousChangeReason::quotaViolationChange)))
      return false;
    const auto& list = *keys->get<formats::Array>();
    return std::find(list.begin(), list.end(), Value(key_)) != list.end();
  }

  platform::NotificationCenter& center_;
  std::string key_;
  std::atomic<bool> refused_{false};
};

// Waits on the main loop until a value arrives or the time is up. The store answers nil
// after its own 30-second wait; a longer time-out asks again.
std::optional<std::string> waitForValue(Host& host, const CloudRequest& request) {
  auto& loop = host.platform->mainLoop();
  auto& clock = host.platform->dispatch().clock();
  auto deadline =
      clock.now() +
      std::chrono::duration_cast<platform::Clock::Duration>(
          std::chrono::duration<double>(std::min(request.timeoutSeconds, kLongestWaitSeconds)));
  std::optional<std::optional<std::string>> answer;
  host.client->setOnCloudStoreValueFetched([&](const auto&, const auto& value) {
    answer = value;
    loop.stop();
  });
  do {
    answer.reset();
    host.client->fetchValueFromCloudStoreForKey(request.key);
    if (!answer) loop.runUntil(deadline);
  } while (!(answer && *answer) && clock.now() < deadline);
  host.client->setOnCloudStoreValueFetched(nullptr);
  return answer ? *answer : std::nullopt;
}

// One exchange of a replica of the device's own, so that the report says how the account
// stands now; writes kept from an earlier offline run are pushed on the way.
platform::posix::ReplicaStatus exchange(Host& host) {
  auto store = host.platform->makeReplicaStore();
  store->exchange();
  return store->status();
}

std::string describeTime(std::int64_t nanoseconds) {
  if (nanoseconds == 0) return "never";
  std::time_t seconds = nanoseconds / 1'000'000'000;
  std::tm utc{};
  char text[32];
  gmtime_r(&seconds, &utc);
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string describeConnection(const platform::CloudAccountStatus& account) {
  if (account.problem) return "unusable: " + *account.problem;
  if (account.connected) return "connected";
  return account.offlineReason.empty() ? "offline" : "offline: " + account.offlineReason;
}

int get(Host& host, const CloudRequest& request, bool json) {
  if (const auto& problem = host.firstExchange->account.problem) {
    std::cerr << "quorin: cloud account unusable: " << *problem << "\n";
    return 2;
  }
  auto found = printLookup(request.key, waitForValue(host, request), json, "the cloud account");
  // None came, but the account was never asked, which is not the same as its having none.
  const auto& account = host.firstExchange->account;
  if (found != 0 && !account.connected)
    std::cerr << "quorin: the cloud account was out of reach, so only this device's copy was "
                 "read: "
              << (account.offlineReason.empty() ? "offline" : account.offlineReason) << "\n";
  return found;
}

// Only an account on a cluster names the node that serves it and its replicas.
int status(Host& host, bool json) {
  auto status = exchange(host);
  const auto& account = status.account;
  if (json) {
    formats::Dictionary report{
        {"backend", account.backend},
        {"account", account.location},
        {"connected", account.connected},
        {"connection", describeConnection(account)},
        {"pendingWrites", static_cast<std::int64_t>(status.pendingWrites)},
        {"lastSync",
         status.syncedAt ? formats::Value(describeTime(status.syncedAt)) : formats::Value()},
        {"journalProblem",
         status.journalProblem ? formats::Value(*status.journalProblem) : formats::Value()}};
    if (!account.servedBy.empty()) report.emplace("node", account.servedBy);
    if (!account.replication.empty()) report.emplace("replication", account.replication);
    printJson(report);
  } else {
    std::cout << "backend: " << account.backend << "\n"
              << "account: " << account.location << "\n"
              << "connection: " << describeConnection(account) << "\n"
              << (account.servedBy.empty() ? "" : "node: " + account.servedBy + "\n")
              << (account.replication.empty() ? "" : "replicas: " + account.replication + "\n")
              << "pendingWrites: " << status.pendingWrites << "\n"
              << "lastSync: " << describeTime(status.syncedAt) << "\n";
    if (status.journalProblem) std::cout << "journalProblem: " << *status.journalProblem << "\n";
  }
  return account.problem || status.journalProblem ? 2 : 0;
}

// Why the account's store cannot hold `value`, or none: its values are property-list strings,
// which are UTF-8 text without NUL bytes.
std::optional<std::string> unstorable(const std::string& value) {
  if (!formats::isValidUtf8(value)) return "the value is not UTF-8 text";
  if (value.find('\0') != std::string::npos) return "the value holds a NUL byte";
  return std::nullopt;
}

// Written through a replica of the command's own, which says whether its journal kept the
// write.
int write(Host& host, const CloudRequest& request, bool json) {
  bool set = request.action == "set";
  auto value = set ? valueFromArgument(request.value) : std::optional<std::string>();
  if (set && !value) return 2;
  if (auto why = set ? unstorable(*value) : std::nullopt) {
    std::cerr << "quorin: not saved: " << *why << "\n";
    return 2;
  }
  QuotaWatch quota(host.platform->notificationCenter(), request.key);
  auto store = host.platform->makeReplicaStore();
  if (!store->write(request.key, set ? std::optional<Value>(*value) : std::nullopt)) {
    auto why = store->status().journalProblem;
    std::cerr << "quorin: not saved: " << why.value_or("the device's journal refused it") << "\n";
    return 2;
  }
  store->exchange();
  if (quota.refused()) {
    std::cerr << "quorin: the cloud account refused '" << request.key
              << "': it allows 1024 keys of at most 64 bytes and 1 MB in all\n";
    return 1;
  }
  auto status = store->status();
  if (status.account.problem) {
    std::cerr << "quorin: kept on this device only, the cloud account is unusable: "
              << *status.account.problem << "\n";
    return 2;
  }
  bool waiting = !status.account.connected && status.pendingWrites > 0;
  if (waiting) {
    std::cerr << "quorin: kept on this device; " << describeConnection(status.account) << "; "
              << status.pendingWrites << " write(s) will be pushed once the account is back\n";
  }
  if (json) printJson(formats::Dictionary{{"ok", true}, {"pending", waiting}});
  return 0;
}

}  // namespace

int runCloud(const GlobalOptions& options, const CloudRequest& request) {
  if (request.action.ends_with("-account")) return runCloudAccountUser(request, options.json);
  Host host(options, request.action == "get" ? Facade::afterExchange : Facade::none);
  if (request.action == "status") return status(host, options.json);
  if (auto problem = host.platform->cloudProblem()) {
    std::cerr << "quorin: cloud account unusable: " << *problem << "\n";
    return 2;
  }
  if (request.action == "get") return get(host, request, options.json);
  return write(host, request, options.json);
}

}  // namespace quorin::cli
