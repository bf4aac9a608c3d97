#include "platform/redis/redis_cloud_account.hpp"

#include <hiredis/hiredis.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "formats/excerpt.hpp"
#include "platform/redis/redis_account_user.hpp"
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
}

RedisCloudAccount::~RedisCloudAccount() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (wakeFd_ >= 0) {
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
  }
  if (subscriber_.joinable()) subscriber_.join();
  if (wakeFd_ >= 0) ::close(wakeFd_);
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
  auto opened = RedisConnection::open(*endpoint_, kCommandTimeout, kCommandLimits, error);
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
  if (!missing && !refusesThisDevice(text)) return failed(std::string(what) + ": " + excerpt(text));
  std::lock_guard lock(mutex_);
  refusal_ =
      endpoint_->describe() + ": " + std::string(what) + ": " + missing.value_or(excerpt(text));
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
  return answered();
}

bool RedisCloudAccount::pushCall(std::span<const CloudWrite> writes, std::string_view device,
                                 std::vector<CloudWriteOutcome>& outcomes) {
  static const auto maxBytes = std::to_string(kCloudMaxTotalBytes),
                    maxKeys = std::to_string(kCloudMaxKeys),
                    maxKeyBytes = std::to_string(kCloudMaxKeyBytes);
  std::vector<std::string> times;
  times.reserve(writes.size() * 2);
  std::vector<std::string_view> call{"FCALL",    kPushFunction, "4",       valuesKey_,
                                     stampsKey_, versionsKey_,  stateKey_, device,
                                     channel_,   maxBytes,      maxKeys,   maxKeyBytes};
  for (const auto& write : writes) {
    times.push_back(std::to_string(write.writtenAt / kNanosPerSecond));
    times.push_back(std::to_string(write.writtenAt % kNanosPerSecond));
    call.insert(call.end(),
                {write.key, times[times.size() - 2], times.back(), write.encoded ? "1" : "0",
                 write.encoded ? std::string_view(*write.encoded) : ""});
  }
  auto reply = commands_->command(call);
  if (!reply) return failed(commands_->error());
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
  do {
    auto before = rows.size();
    if (!changesCall(rows.empty() ? version : rows.back().version, rows)) return false;
    page = rows.size() - before;
  } while (page == kRowsPerCall);
  return answered();
}

bool RedisCloudAccount::changesCall(std::int64_t version, std::vector<CloudRow>& rows) {
  static const auto limit = std::to_string(kRowsPerCall);
  auto since = std::to_string(version);
  auto reply = commands_->command(
      {"FCALL_RO", kChangesFunction, "2", versionsKey_, valuesKey_, since, limit});
  if (!reply) return failed(commands_->error());
  if (isErrorReply(*reply)) return refused(*reply, "the server refused a read");
  constexpr std::string_view expected =
      "key, version and value triples of later and later versions";
  if (reply->type != REDIS_REPLY_ARRAY || reply->elements % 3 != 0 ||
      reply->elements / 3 > kRowsPerCall)
    return malformed("a read of changes", *reply, expected);
  for (std::size_t i = 0; i < reply->elements; i += 3) {
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
  auto reply = commands_->command({"HGET", valuesKey_, name});
  if (!reply) return failed(commands_->error());
  if (isErrorReply(*reply)) return refused(*reply, "the server refused a read");
  if (!isString(*reply) && reply->type != REDIS_REPLY_NIL)
    return malformed("a read of a value", *reply, "a value or nil");
  encoded = isString(*reply) ? std::optional(std::string(replyText(*reply))) : std::nullopt;
  return answered();
}

CloudAccountStatus RedisCloudAccount::status() {
  std::lock_guard lock(mutex_);
  return {"redis", endpoint_ ? endpoint_->describe() : maskedUrl(url_),
          subscribed_ || commands_ != nullptr, problem_ ? problem_ : refusal_, lastError_};
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
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
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
std::unique_ptr<RedisConnection> RedisCloudAccount::subscribe(RedisOpenError& error) {
  auto subscriber = RedisConnection::open(*endpoint_, kCommandTimeout, kSubscriptionLimits, error);
  if (!subscriber) return nullptr;
  auto confirmed = subscriber->command({"SUBSCRIBE", channel_});
  if (!confirmed) {
    error = {subscriber->error(), subscriber->refused()};
    return nullptr;
  }
  if (isPush(*confirmed, "subscribe", channel_, REDIS_REPLY_INTEGER)) return subscriber;
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
  auto delay = std::chrono::milliseconds(kFirstRetry);
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
      lastError_ = subscriber->error();
      if (std::chrono::steady_clock::now() - since >= kLongestRetry) delay = kFirstRetry;
    } else {
      noteOpenError(error);
    }
    if (!subscriber && error.refused) {
      waitWhileRefused();
    } else {
      backOff(delay);
      delay = std::min(delay * 2, std::chrono::milliseconds(kLongestRetry));
    }
  }
}

// True when asked to stop; false when the subscription failed, as the connection says.
// What arrived with the confirmation, or with the last piece, is taken before waiting for
// more.
bool RedisCloudAccount::listen(RedisConnection& subscriber) {
  pollfd fds[2] = {{subscriber.fd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  while (true) {
    bool arrived = false;
    RedisReply message;
    while (true) {
      if (!subscriber.nextReply(message)) return false;
      if (!message) break;
      if (!isPush(*message, "message", channel_, REDIS_REPLY_STRING))
        return subscriber.failed("the server sent the subscription " + describeReply(*message) +
                                 ", not a message on the account's channel");
      arrived = true;
    }
    if (arrived) onChange_();
    if (::poll(fds, 2, listenTimeout(subscriber, wakeFd_ >= 0)) < 0 && errno != EINTR)
      return subscriber.failed(std::string("cannot wait for the server: ") + std::strerror(errno));
    if (fds[1].revents || stopRequested()) return true;
    if ((fds[0].revents || subscriber.replyDue()) && !subscriber.readAvailable()) return false;
  }
}

}  // namespace quorin::platform::redis
