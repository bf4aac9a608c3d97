#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/cloud_account.hpp"
#include "platform/redis/redis_connection.hpp"
#include "platform/redis/redis_url.hpp"

namespace quorin::platform::redis {

// A cloud account on a Redis server, for devices on several machines. Writes run as one
// Lua script each, which checks the quotas, bumps the account version and publishes the
// changed keys on the account's channel. A thread of the account's own holds the
// subscription: it reconnects with a capped back-off and, after every (re)connect, calls
// the watcher so that the device pulls what it missed. A lost subscription means the
// command connection is gone too, so the next call opens a fresh one. Calls answer false at
// once while the server is out of reach, and never wait longer than the command time-out.
// A server that refuses this device (its credentials, its certificate, its rights) is asked
// again only when the host calls, never on a timer.
class RedisCloudAccount final : public CloudAccount {
 public:
  // A URL that does not parse gives an account that stays unusable and says why.
  explicit RedisCloudAccount(std::string url);
  ~RedisCloudAccount() override;

  std::int64_t now() override;
  bool push(const std::vector<CloudWrite>& writes, std::string_view device,
            std::vector<CloudWriteOutcome>& outcomes) override;
  bool changesSince(std::int64_t version, std::vector<CloudRow>& rows) override;
  bool current(std::string_view key, std::optional<std::string>& encoded) override;
  CloudAccountStatus status() override;
  void watch(std::function<void()> onChange) override;
  // Nothing to do: no call waits on others longer than the command time-out.
  void stopWaiting() override {}

  // Connects on the calling thread, for a host that wants to know before it goes on.
  // Answers why the account cannot be used, or none.
  std::optional<std::string> probe();

 private:
  RedisConnection* commands();
  RedisReply runScript(const char* script, std::string& sha,
                       const std::vector<std::string_view>& arguments);
  bool failed(std::string why);
  // A reply that is not the answer: a refusal of this user that lasts, or a passing failure.
  bool unanswered(const redisReply& reply, std::string_view what);
  bool answered();
  std::string key(std::string_view name) const { return keyPrefix_ + std::string(name); }
  void measureClock(RedisConnection& connection);
  void subscribeLoop();
  std::unique_ptr<RedisConnection> subscribe(RedisOpenError& error);
  bool listen(RedisConnection& subscriber);
  void backOff(std::chrono::milliseconds delay);
  void waitWhileRefused();
  void noteOpenError(const RedisOpenError& error);

  const std::string url_;
  std::optional<RedisEndpoint> endpoint_;
  std::string keyPrefix_;
  std::string channel_;
  std::atomic<std::int64_t> clockOffset_{0};

  // Used by one caller at a time, as every account is.
  std::unique_ptr<RedisConnection> commands_;
  std::uint64_t commandsSession_ = 0;  // the subscriber's losses when commands_ was opened
  std::string pushSha_, changesSha_;

  std::function<void()> onChange_;
  mutable std::mutex mutex_;  // guards the eight below
  std::condition_variable wake_;
  bool stopping_ = false;
  bool subscribed_ = false;
  bool offline_ = false;                // the last attempt to reach the server failed
  std::optional<std::string> problem_;  // the server refused us; trying again will not help
  std::optional<std::string> refusal_;  // the last command was refused to this user
  std::string lastError_;
  std::uint64_t lostSubscriptions_ = 0;
  int wakeFd_ = -1;  // an eventfd that ends the subscriber's wait
  std::thread subscriber_;
};

}  // namespace quorin::platform::redis
