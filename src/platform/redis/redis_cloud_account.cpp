#include "platform/redis/redis_cloud_account.hpp"

#include <hiredis/hiredis.h>
#include <poll.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

#include "formats/excerpt.hpp"
#include "platform/common/retry_delay.hpp"
#include "platform/redis/redis_account_user.hpp"
#include "platform/redis/redis_cluster.hpp"
#include "platform/redis/redis_functions.hpp"
#include "platform/redis/redis_limits.hpp"

namespace quorin::platform::redis {
namespace {

using namespace std::chrono_literals;

constexpr auto kCommandTimeout = 1000ms;
constexpr auto kFirstRetry = 100ms;
// Short, so that a server back from a restart is found within about a second.
constexpr auto kLongestRetry = 1000ms;
// How often a subscriber without its eventfd looks whether to stop.
constexpr int kStopCheckMilliseconds = 200;
constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
// How long a push waits for a replica to confirm it; within the command time-out.
constexpr int kReplicaWaitMilliseconds = 500;
// A slot moves once in a while, not back and forth: more redirections than this are a fault.
constexpr int kMostRedirections = 3;

std::int64_t localNanoseconds() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

bool parseInteger(std::string_view text, std::int64_t& value) {
  auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), value);
  return code == std::errc() && end == text.data() + text.size();
}

bool isString(const redisReply& reply) {
  return reply.type == REDIS_REPLY_STRING;
}

// An array of three strings, [kind, channel, last], the last of type `lastType`.
bool isPush(const redisReply& reply, std::string_view kind, std::string_view channel,
            int lastType) {
  return reply.type == REDIS_REPLY_ARRAY && reply.elements == 3 && isString(*reply.element[0]) &&
         replyText(*reply.element[0]) == kind && isString(*reply.element[1]) &&
         replyText(*reply.element[1]) == channel && reply.element[2]->type == lastType;
}

// The poll timeout of a subscriber: until the message under way is due, else until woken.
int listenTimeout(const RedisConnection& subscriber, bool wakeable) {
  auto due = subscriber.replyDue();
  if (!due) return wakeable ? -1 : kStopCheckMilliseconds;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now());
  auto wait = std::max<std::int64_t>(left.count(), 0);
  return static_cast<int>(wakeable ? wait : std::min<std::int64_t>(wait, kStopCheckMilliseconds));
}

}  // namespace

RedisCloudAccount::RedisCloudAccount(std::string url) : url_(std::move(url)) {
  std::string error;
  endpoint_ = parseRedisUrl(url_, error);
  if (!endpoint_) {
    problem_ = maskedUrl(url_) + ": " + error;
    return;
  }
  auto prefix = accountKeyPrefix(endpoint_->account);
  valuesKey_ = prefix + "values";
  stampsKey_ = prefix + "stamps";
  versionsKey_ = prefix + "versions";
  stateKey_ = prefix + "state";
  channel_ = prefix + "changes";
  route_ = std::make_unique<RedisRoute>(*endpoint_, keySlot(channel_));
}

RedisCloudAccount::~RedisCloudAccount() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (wakeup_) wakeup_->raise();
  if (subscriber_.joinable()) subscriber_.join();
}

std::int64_t RedisCloudAccount::now() {
  return localNanoseconds() + clockOffset_.load();
}

// A server that refuses us is in reach: the next call asks it again, as the host decides.
void RedisCloudAccount::noteOpenError(const RedisOpenError& error) {
  std::lock_guard lock(mutex_);
  offline_ = !error.refused;
  if (error.refused) {
    problem_ = endpoint_->describe() + ": " + error.message;
  } else {
    lastError_ = error.message;
  }
}

// Connects on the caller's thread unless the server was out of reach at the last try;
// the subscriber's back-off then decides when to try again. A connection opened before the
// subscriber last lost the server is dropped unused: the server it reached may be gone.
RedisConnection* RedisCloudAccount::commands() {
  std::uint64_t session;
  {
    std::lock_guard lock(mutex_);
    session = lostSubscriptions_;
    if (commands_ && commandsSession_ == session) return commands_.get();
    commands_.reset();
    if (!endpoint_ || offline_) return nullptr;
  }
  RedisOpenError error;
  auto opened = route_->open(kCommandTimeout, kCommandLimits, error);
  if (!opened) {
    noteOpenError(error);
    return nullptr;
  }
  {
    std::lock_guard lock(mutex_);
    problem_.reset();
    lastError_.clear();
    commands_ = std::move(opened);
    commandsSession_ = session;
  }
  wake_.notify_all();  // a subscriber that was refused tries again
  return measureClock(*commands_) ? commands_.get() : nullptr;
}

// Writes are stamped with the server's clock, so devices whose own clocks disagree still
// agree on which write came last. Half the round trip is the best guess of the delay.
bool RedisCloudAccount::measureClock(RedisConnection& connection) {
  auto before = localNanoseconds();
  auto reply = connection.command({"TIME"});
  auto after = localNanoseconds();
  if (!reply) return failed(connection.error());
  std::int64_t seconds = 0, micros = 0;
  if (reply->type != REDIS_REPLY_ARRAY || reply->elements != 2 ||
      !parseInteger(replyText(*reply->element[0]), seconds) ||
      !parseInteger(replyText(*reply->element[1]), micros))
    return malformed("TIME", *reply, "its seconds and microseconds");
  auto server = seconds * kNanosPerSecond + micros * 1000;
  clockOffset_ = server - (before + (after - before) / 2);
  return true;
}

// A redirection is followed only within the call's time-out: a node it names that never
// answers costs the call that time-out once, not once for each redirection.
RedisReply RedisCloudAccount::call(const std::vector<std::string_view>& arguments,
                                   std::string& error) {
  auto deadline = std::chrono::steady_clock::now() + kCommandTimeout;
  for (int hop = 0;; ++hop) {
    auto reply = commands_->command(arguments);
    if (!reply) {
      error = commands_->error();
      route_->lost();
      return nullptr;
    }
    auto redirection = isErrorReply(*reply) ? redirectionOf(replyText(*reply)) : std::nullopt;
    if (!redirection || hop == kMostRedirections || std::chrono::steady_clock::now() >= deadline)
      return reply;
    if (redirection->ask) return asking(redirection->to, arguments, error);
    route_->moved(redirection->to);
    {
      std::lock_guard lock(mutex_);
      commands_.reset();
    }
    if (!commands()) {
      std::lock_guard lock(mutex_);
      error = lastError_.empty() ? "the account's slot moved to " + redirection->to.address()
                                 : lastError_;
      return nullptr;
    }
  }
}

// A slot on its way to another node: the command goes there once, after ASKING, and the
// account stays where it is until the cluster says MOVED.
RedisReply RedisCloudAccount::asking(const ClusterNode& node,
                                     const std::vector<std::string_view>& arguments,
                                     std::string& error) {
  RedisOpenError openError;
  auto there = RedisConnection::open(route_->endpointOf(node), kCommandTimeout, kCommandLimits,
                                     openError);
  if (!there) return (error = openError.message, nullptr);
  auto asked = there->command({"ASKING"});
  if (asked && !isStatusReply(*asked, "OK")) {
    error = node.address() + " answered ASKING with " + describeReply(*asked);
    return nullptr;
  }
  auto reply = asked ? there->command(arguments) : nullptr;
  if (!reply) error = there->error();
  return reply;
}

// A push leaves the device's journal only once a replica of the master that took it has it
// too; a master without replicas has only itself, as a standalone server has.
bool RedisCloudAccount::replicated() {
  auto route = route_->view();
  if (!route.cluster || route.replicas <= 0) return true;
  auto timeout = std::to_string(kReplicaWaitMilliseconds);
  std::string error;
  auto reply = call({"WAIT", "1", timeout}, error);
  if (!reply) return failed(error);
  if (reply->type != REDIS_REPLY_INTEGER) return malformed("WAIT", *reply, "a count of replicas");
  if (reply->integer >= 1) return true;
  return failed("no replica of " + route.node + " confirmed the writes within " + timeout +
                " ms; they stay on this device and are pushed again");
}

bool RedisCloudAccount::failed(std::string why) {
  std::unique_ptr<RedisConnection> gone;
  std::lock_guard lock(mutex_);
  gone = std::move(commands_);
  lastError_ = std::move(why);
  return false;
}

// The connection stays after a refusal: it still serves what the user may do.
bool RedisCloudAccount::refused(const redisReply& error, std::string_view what) {
  auto text = replyText(error);
  auto missing = missingFunctions(text);
  if (!missing && !refusesThisDevice(text))
    return failed(std::string(what) + ": " + formats::excerpt(text));
  std::lock_guard lock(mutex_);
  refusal_ = endpoint_->describe() + ": " + std::string(what) + ": " +
             missing.value_or(formats::excerpt(text));
  return false;
}

bool RedisCloudAccount::malformed(std::string_view what, const redisReply& part,
                                  std::string_view expected) {
  return failed("the server answered " + std::string(what) + " with " + describeReply(part) +
                ", not " + std::string(expected));
}

bool RedisCloudAccount::answered() {
  std::lock_guard lock(mutex_);
  refusal_.reset();
  lastError_.clear();
  return true;
}

bool RedisCloudAccount::push(const std::vector<CloudWrite>& writes, std::string_view device,
                             std::vector<CloudWriteOutcome>& outcomes) {
  outcomes.clear();
  if (!commands()) return false;
  for (std::size_t first = 0; first < writes.size(); first += kWritesPerCall) {
    auto count = std::min(kWritesPerCall, writes.size() - first);
    if (!pushCall(std::span(writes).subspan(first, count), device, outcomes)) return false;
  }
  return (writes.empty() || replicated()) && answered();
}

bool RedisCloudAccount::pushCall(std::span<const CloudWrite> writes, std::string_view device,
                                 std::vector<CloudWriteOutcome>& outcomes) {
  static const auto maxBytes = std::to_string(kCloudMaxTotalBytes),
                    maxKeys = std::to_string(kCloudMaxKeys),
                    maxKeyBytes = std::to_string(kCloudMaxKeyBytes);
  std::vector<std::string> times;
  times.reserve(writes.size() * 2);
  bool cluster = route_->view().cluster;
  std::vector<std::string_view> call{"FCALL",     cluster ? kClusterPushFunction : kPushFunction,
                                     "4",         valuesKey_,
                                     stampsKey_,  versionsKey_,
                                     stateKey_,   device,
                                     channel_};
  if (cluster) call.push_back("SPUBLISH");
  call.insert(call.end(), {maxBytes, maxKeys, maxKeyBytes});
  for (const auto& write : writes) {
    times.push_back(std::to_string(write.writtenAt / kNanosPerSecond));
    times.push_back(std::to_string(write.writtenAt % kNanosPerSecond));
    call.insert(call.end(),
                {write.key, times[times.size() - 2], times.back(), write.encoded ? "1" : "0",
                 write.encoded ? std::string_view(*write.encoded) : ""});
  }
  std::string error;
  auto reply = this->call(call, error);
  if (!reply) return failed(error);
  if (isErrorReply(*reply)) return refused(*reply, "the server refused the writes");
  auto expected = "an outcome (0, 1 or 2) for each of " + std::to_string(writes.size()) + " writes";
  if (reply->type != REDIS_REPLY_ARRAY || reply->elements != writes.size())
    return malformed("the writes", *reply, expected);
  for (std::size_t i = 0; i < reply->elements; ++i) {
    const auto& outcome = *reply->element[i];
    if (outcome.type != REDIS_REPLY_INTEGER || outcome.integer < 0 || outcome.integer > 2)
      return malformed("a write", outcome, expected);
    outcomes.push_back(outcome.integer == 0   ? CloudWriteOutcome::applied
                       : outcome.integer == 1 ? CloudWriteOutcome::superseded
                                              : CloudWriteOutcome::refused);
  }
  return true;
}

// Read a page at a time, so that no reply holds more than the account's quota and the
// keys of a page: a history of removed keys can be longer than any one reply.
bool RedisCloudAccount::changesSince(std::int64_t version, std::vector<CloudRow>& rows) {
  rows.clear();
  if (!commands()) return false;
  std::size_t page;
  bool first = true;
  do {
    auto before = rows.size();
    std::optional<std::int64_t> held;
    if (!changesCall(rows.empty() ? version : rows.back().version, rows, held)) return false;
    // The account lost writes this device saw: every key is read again at its version now.
    if (std::exchange(first, false) && held && *held < version) {
      version = 0;
      rows.clear();
      page = kRowsPerCall;
      continue;
    }
    page = rows.size() - before;
  } while (page == kRowsPerCall);
  return answered();
}

bool RedisCloudAccount::changesCall(std::int64_t version, std::vector<CloudRow>& rows,
                                    std::optional<std::int64_t>& accountVersion) {
  static const auto limit = std::to_string(kRowsPerCall);
  auto since = std::to_string(version);
  bool cluster = route_->view().cluster;
  std::string error;
  auto reply = cluster ? call({"FCALL_RO", kClusterChangesFunction, "3", versionsKey_,
                               valuesKey_, stateKey_, since, limit},
                              error)
                       : call({"FCALL_RO", kChangesFunction, "2", versionsKey_, valuesKey_,
                               since, limit},
                              error);
  if (!reply) return failed(error);
  if (isErrorReply(*reply)) return refused(*reply, "the server refused a read");
  std::string expected = cluster ? "the account's version, then " : "";
  expected += "key, version and value triples of later and later versions";
  std::size_t start = cluster ? 1 : 0;
  if (reply->type != REDIS_REPLY_ARRAY || reply->elements < start ||
      (reply->elements - start) % 3 != 0 || (reply->elements - start) / 3 > kRowsPerCall)
    return malformed("a read of changes", *reply, expected);
  if (cluster) {
    const auto& held = *reply->element[0];
    if (held.type != REDIS_REPLY_INTEGER) return malformed("a read of changes", held, expected);
    accountVersion = held.integer;
  }
  for (std::size_t i = start; i < reply->elements; i += 3) {
    const auto &key = *reply->element[i], &stamp = *reply->element[i + 1],
               &value = *reply->element[i + 2];
    CloudRow row{std::string(replyText(key)), std::nullopt, 0};
    if (!isString(key)) return malformed("a read of changes", key, expected);
    // Versions only grow, so that reading on from the last one ends.
    if (!isString(stamp) || !parseInteger(replyText(stamp), row.version) || row.version <= version)
      return malformed("a read of changes", stamp, expected);
    if (!isString(value) && value.type != REDIS_REPLY_NIL)
      return malformed("a read of changes", value, expected);
    if (isString(value)) row.encoded = std::string(replyText(value));
    version = row.version;
    rows.push_back(std::move(row));
  }
  return true;
}

bool RedisCloudAccount::current(std::string_view name, std::optional<std::string>& encoded) {
  if (!commands()) return false;
  std::string error;
  auto reply = call({"HGET", valuesKey_, name}, error);
  if (!reply) return failed(error);
  if (isErrorReply(*reply)) return refused(*reply, "the server refused a read");
  if (!isString(*reply) && reply->type != REDIS_REPLY_NIL)
    return malformed("a read of a value", *reply, "a value or nil");
  encoded = isString(*reply) ? std::optional(std::string(replyText(*reply))) : std::nullopt;
  return answered();
}

CloudAccountStatus RedisCloudAccount::status() {
  std::lock_guard lock(mutex_);
  CloudAccountStatus status{"redis", endpoint_ ? endpoint_->describe() : maskedUrl(url_),
                            subscribed_ || commands_ != nullptr, problem_ ? problem_ : refusal_,
                            lastError_, {}, {}};
  if (auto route = route_ ? route_->view() : RedisRoute::View{}; route.cluster) {
    status.servedBy = route.node.empty() ? "not found yet" : route.node;
    status.replication =
        route.replicas < 0    ? "not known: pushes are done once the master has them"
        : route.replicas == 0 ? "none: pushes are done once the master alone has them, "
                                "and a write it acknowledged is lost if it fails"
                              : std::to_string(route.replicas) +
                                    " replica(s): a push is done once one of them has it";
  }
  return status;
}

std::optional<std::string> RedisCloudAccount::probe() {
  commands();
  std::lock_guard lock(mutex_);
  return problem_;
}

// Without an eventfd (no descriptor was left), the subscriber looks every so often whether
// to stop, rather than never.
void RedisCloudAccount::watch(std::function<void()> onChange) {
  if (!endpoint_) return;
  onChange_ = std::move(onChange);
  wakeup_ = common::EventSignal::tryMake();
  subscriber_ = std::thread([this] { subscribeLoop(); });
}

bool RedisCloudAccount::stopRequested() {
  std::lock_guard lock(mutex_);
  return stopping_;
}

void RedisCloudAccount::backOff(std::chrono::milliseconds delay) {
  std::unique_lock lock(mutex_);
  wake_.wait_for(lock, delay, [this] { return stopping_; });
}

// A refusal that lasts is not tried again on a timer: the subscriber waits until a command
// connection gets through, which the host asks for.
void RedisCloudAccount::waitWhileRefused() {
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return stopping_ || !problem_; });
}

// A connection subscribed to the account's channel, or none with `error` saying why.
// On a cluster, the shard channel of the account's slot, on the master that serves it.
std::unique_ptr<RedisConnection> RedisCloudAccount::subscribe(RedisOpenError& error) {
  auto subscriber = route_->open(kCommandTimeout, kSubscriptionLimits, error);
  if (!subscriber) return nullptr;
  bool cluster = route_->view().cluster;
  auto confirmed = subscriber->command({cluster ? "SSUBSCRIBE" : "SUBSCRIBE", channel_});
  if (!confirmed) {
    error = {subscriber->error(), subscriber->refused()};
    return nullptr;
  }
  if (isPush(*confirmed, cluster ? "ssubscribe" : "subscribe", channel_, REDIS_REPLY_INTEGER))
    return subscriber;
  if (auto moved = isErrorReply(*confirmed) ? redirectionOf(replyText(*confirmed)) : std::nullopt) {
    route_->moved(moved->to);
    error = {"the account's slot moved to " + moved->to.address(), false};
    return nullptr;
  }
  bool lasting = isErrorReply(*confirmed) && !isPassingError(replyText(*confirmed));
  error = {(lasting ? "the server refused the subscription: "
                    : "the server answered the subscription with ") +
               describeReply(*confirmed),
           lasting};
  return nullptr;
}

// A subscription that ends as soon as it is made is not made again at once: only one that
// lasted starts the back-off afresh.
void RedisCloudAccount::subscribeLoop() {
  common::RetryDelay retries(kFirstRetry, kLongestRetry);
  while (!stopRequested()) {
    RedisOpenError error;
    auto subscriber = subscribe(error);
    if (subscriber) {
      auto since = std::chrono::steady_clock::now();
      {
        std::lock_guard lock(mutex_);
        subscribed_ = true;
        offline_ = false;
        problem_.reset();
      }
      onChange_();  // what was written while this device was away
      bool stopped = listen(*subscriber);
      std::lock_guard lock(mutex_);
      subscribed_ = false;
      if (stopped) return;
      ++lostSubscriptions_;
      offline_ = true;
      route_->lost();
      lastError_ = subscriber->error();
      if (std::chrono::steady_clock::now() - since >= kLongestRetry) retries.reset();
    } else {
      noteOpenError(error);
    }
    if (!subscriber && error.refused) {
      waitWhileRefused();
    } else {
      backOff(retries.afterFailure());
    }
  }
}

// True when asked to stop; false when the subscription failed, as the connection says.
// What arrived with the confirmation, or with the last piece, is taken before waiting for
// more.
bool RedisCloudAccount::listen(RedisConnection& subscriber) {
  pollfd fds[2] = {{subscriber.fd(), POLLIN, 0}, {wakeup_ ? wakeup_->descriptor() : -1, POLLIN, 0}};
  bool cluster = route_->view().cluster;
  while (true) {
    bool arrived = false;
    RedisReply message;
    while (true) {
      if (!subscriber.nextReply(message)) return false;
      if (!message) break;
      // A slot that moved ends its shard channels' subscriptions where it was.
      if (cluster && isPush(*message, "sunsubscribe", channel_, REDIS_REPLY_INTEGER))
        return subscriber.failed("the account's slot moved away from " + route_->view().node);
      if (!isPush(*message, cluster ? "smessage" : "message", channel_, REDIS_REPLY_STRING))
        return subscriber.failed("the server sent the subscription " + describeReply(*message) +
                                 ", not a message on the account's channel");
      arrived = true;
    }
    if (arrived) onChange_();
    if (::poll(fds, 2, listenTimeout(subscriber, wakeup_.has_value())) < 0 && errno != EINTR)
      return subscriber.failed(std::string("cannot wait for the server: ") + std::strerror(errno));
    if (fds[1].revents || stopRequested()) return true;
    if ((fds[0].revents || subscriber.replyDue()) && !subscriber.readAvailable()) return false;
  }
}

}  // namespace quorin::platform::redis
