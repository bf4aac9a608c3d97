#include "platform/redis/redis_cloud_account.hpp"

#include <hiredis/hiredis.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <charconv>

#include "platform/redis/redis_account_user.hpp"
#include "platform/redis/redis_scripts.hpp"

namespace quorin::platform::redis {
namespace {

using namespace std::chrono_literals;

constexpr auto kCommandTimeout = 1000ms;
constexpr auto kFirstRetry = 100ms;
// Short, so that a server back from a restart is found within about a second.
constexpr auto kLongestRetry = 1000ms;
constexpr std::int64_t kNanosPerSecond = 1'000'000'000;

std::int64_t localNanoseconds() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

bool parseInteger(std::string_view text, std::int64_t& value) {
  auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), value);
  return code == std::errc() && end == text.data() + text.size();
}

// Refusals of what the credentials allow, which last until someone changes them.
bool isLastingRefusal(std::string_view error) {
  return error.starts_with("NOPERM") || error.starts_with("WRONGPASS") ||
         error.starts_with("NOAUTH");
}

}  // namespace

RedisCloudAccount::RedisCloudAccount(std::string url) : url_(std::move(url)) {
  std::string error;
  endpoint_ = parseRedisUrl(url_, error);
  if (!endpoint_) {
    problem_ = maskedUrl(url_) + ": " + error;
    return;
  }
  keyPrefix_ = accountKeyPrefix(endpoint_->account);
  channel_ = key("changes");
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
  auto opened = RedisConnection::open(*endpoint_, kCommandTimeout, error);
  if (!opened) {
    noteOpenError(error);
    return nullptr;
  }
  {
    std::lock_guard lock(mutex_);
    problem_.reset();
    commands_ = std::move(opened);
    commandsSession_ = session;
  }
  wake_.notify_all();  // a subscriber that was refused tries again
  measureClock(*commands_);
  pushSha_.clear();
  changesSha_.clear();
  return commands_.get();
}

// Writes are stamped with the server's clock, so devices whose own clocks disagree still
// agree on which write came last. Half the round trip is the best guess of the delay.
void RedisCloudAccount::measureClock(RedisConnection& connection) {
  auto before = localNanoseconds();
  auto reply = connection.command({"TIME"});
  auto after = localNanoseconds();
  std::int64_t seconds = 0, micros = 0;
  if (!reply || reply->type != REDIS_REPLY_ARRAY || reply->elements != 2 ||
      !parseInteger(replyText(*reply->element[0]), seconds) ||
      !parseInteger(replyText(*reply->element[1]), micros))
    return;
  auto server = seconds * kNanosPerSecond + micros * 1000;
  clockOffset_ = server - (before + (after - before) / 2);
}

bool RedisCloudAccount::failed(std::string why) {
  commands_.reset();
  std::lock_guard lock(mutex_);
  lastError_ = std::move(why);
  return false;
}

// The connection stays: it still works for what the user may do.
bool RedisCloudAccount::unanswered(const redisReply& reply, std::string_view what) {
  auto error = std::string(what) + ": " + std::string(replyText(reply));
  if (!isErrorReply(reply) || !isLastingRefusal(replyText(reply))) return failed(error);
  std::lock_guard lock(mutex_);
  refusal_ = endpoint_->describe() + ": " + error;
  return false;
}

bool RedisCloudAccount::answered() {
  std::lock_guard lock(mutex_);
  refusal_.reset();
  return true;
}

// Scripts are loaded once a connection; a server restarted since forgets them.
RedisReply RedisCloudAccount::runScript(const char* script, std::string& sha,
                                        const std::vector<std::string_view>& arguments) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (sha.empty()) {
      auto loaded = commands_->command({"SCRIPT", "LOAD", script});
      if (!loaded || isErrorReply(*loaded)) return loaded;
      sha = replyText(*loaded);
    }
    std::vector<std::string_view> call{"EVALSHA", sha};
    call.insert(call.end(), arguments.begin(), arguments.end());
    auto reply = commands_->command(call);
    if (!reply || !isErrorReply(*reply) || !replyText(*reply).starts_with("NOSCRIPT")) return reply;
    sha.clear();
  }
  return nullptr;
}

bool RedisCloudAccount::push(const std::vector<CloudWrite>& writes, std::string_view device,
                             std::vector<CloudWriteOutcome>& outcomes) {
  outcomes.clear();
  if (!commands()) return false;
  if (writes.empty()) return true;
  auto values = key("values"), stamps = key("stamps"), versions = key("versions"),
       state = key("state");
  auto maxBytes = std::to_string(kCloudMaxTotalBytes), maxKeys = std::to_string(kCloudMaxKeys),
       maxKeyBytes = std::to_string(kCloudMaxKeyBytes);
  std::vector<std::string> times;
  times.reserve(writes.size() * 2);
  std::vector<std::string_view> arguments{"4",    values,   stamps,   versions, state,
                                          device, channel_, maxBytes, maxKeys,  maxKeyBytes};
  for (const auto& write : writes) {
    times.push_back(std::to_string(write.writtenAt / kNanosPerSecond));
    times.push_back(std::to_string(write.writtenAt % kNanosPerSecond));
    arguments.insert(arguments.end(),
                     {write.key, times[times.size() - 2], times.back(), write.encoded ? "1" : "0",
                      write.encoded ? std::string_view(*write.encoded) : ""});
  }
  auto reply = runScript(kPushScript, pushSha_, arguments);
  if (!reply) return failed(commands_ ? commands_->error() : "connection lost");
  if (reply->type != REDIS_REPLY_ARRAY || reply->elements != writes.size())
    return unanswered(*reply, "the server refused the writes");
  for (std::size_t i = 0; i < reply->elements; ++i) {
    auto code = reply->element[i]->integer;
    outcomes.push_back(code == 0   ? CloudWriteOutcome::applied
                       : code == 1 ? CloudWriteOutcome::superseded
                                   : CloudWriteOutcome::refused);
  }
  return answered();
}

bool RedisCloudAccount::changesSince(std::int64_t version, std::vector<CloudRow>& rows) {
  rows.clear();
  if (!commands()) return false;
  auto versions = key("versions"), values = key("values"), since = std::to_string(version);
  auto reply = runScript(kChangesScript, changesSha_, {"2", versions, values, since});
  if (!reply) return failed(commands_ ? commands_->error() : "connection lost");
  if (reply->type != REDIS_REPLY_ARRAY || reply->elements % 3 != 0)
    return unanswered(*reply, "the server refused a read");
  for (std::size_t i = 0; i < reply->elements; i += 3) {
    CloudRow row{std::string(replyText(*reply->element[i])), std::nullopt, 0};
    if (!parseInteger(replyText(*reply->element[i + 1]), row.version))
      return failed("the account's versions are damaged");
    if (reply->element[i + 2]->type == REDIS_REPLY_STRING)
      row.encoded = std::string(replyText(*reply->element[i + 2]));
    rows.push_back(std::move(row));
  }
  return answered();
}

bool RedisCloudAccount::current(std::string_view name, std::optional<std::string>& encoded) {
  if (!commands()) return false;
  auto reply = commands_->command({"HGET", key("values"), name});
  if (!reply) return failed(commands_->error());
  if (isErrorReply(*reply)) return unanswered(*reply, "the server refused a read");
  encoded = reply->type == REDIS_REPLY_STRING ? std::optional(std::string(replyText(*reply)))
                                              : std::nullopt;
  return answered();
}

CloudAccountStatus RedisCloudAccount::status() {
  std::lock_guard lock(mutex_);
  return {"redis", endpoint_ ? endpoint_->describe() : maskedUrl(url_),
          subscribed_ || commands_ != nullptr, problem_ ? problem_ : refusal_,
          subscribed_ || commands_ ? "" : lastError_};
}

std::optional<std::string> RedisCloudAccount::probe() {
  commands();
  std::lock_guard lock(mutex_);
  return problem_;
}

void RedisCloudAccount::watch(std::function<void()> onChange) {
  if (!endpoint_) return;
  onChange_ = std::move(onChange);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  subscriber_ = std::thread([this] { subscribeLoop(); });
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
  auto subscriber = RedisConnection::open(*endpoint_, kCommandTimeout, error);
  if (!subscriber) return nullptr;
  auto confirmed = subscriber->command({"SUBSCRIBE", channel_});
  if (!confirmed) {
    error = {subscriber->error(), subscriber->refused()};
    return nullptr;
  }
  if (isErrorReply(*confirmed)) {
    error = {"the server refused the subscription: " + std::string(replyText(*confirmed)), true};
    return nullptr;
  }
  return subscriber;
}

void RedisCloudAccount::subscribeLoop() {
  auto delay = std::chrono::milliseconds(kFirstRetry);
  while (true) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    RedisOpenError error;
    auto subscriber = subscribe(error);
    if (!subscriber) {
      noteOpenError(error);
      if (error.refused) {
        waitWhileRefused();
      } else {
        backOff(delay);
        delay = std::min(delay * 2, std::chrono::milliseconds(kLongestRetry));
      }
      continue;
    }
    delay = kFirstRetry;
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
  }
}

// True when asked to stop; false when the connection failed.
bool RedisCloudAccount::listen(RedisConnection& subscriber) {
  pollfd fds[2] = {{subscriber.fd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  while (true) {
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
    if (fds[1].revents) return true;
    if (!fds[0].revents) continue;
    if (!subscriber.readAvailable()) return false;
    RedisReply message;
    bool arrived = false;
    while (subscriber.nextReply(message) && message) arrived = true;
    if (arrived) onChange_();
  }
}

}  // namespace quorin::platform::redis
