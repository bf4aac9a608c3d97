#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "platform/cloud_account.hpp"
#include "platform/common/event_signal.hpp"
#include "platform/redis/redis_connection.hpp"
#include "platform/redis/redis_route.hpp"
#include "platform/redis/redis_url.hpp"

namespace quorin::platform::redis {

// A cloud account on a Redis server, for devices on several machines. Writes run in the
// account's functions on the server (redis_functions.hpp), which check the quotas, bump the
// account version and publish it on the account's channel. A thread of the account's own
// holds the subscription: it reconnects with a capped back-off and, after every (re)connect,
// calls the watcher so that the device pulls what it missed. A lost subscription means the
// command connection is gone too, so the next call opens a fresh one. Calls answer false at
// once while the server is out of reach, and never wait on a node longer than the command
// time-out (on a cluster, the nodes that may say where the account is are tried in turn);
// a reply larger than the device can be sent, or not of the shape due, fails its call.
// A server that refuses this device (its credentials, its certificate, its rights, the
// functions it needs) is asked again only when the host calls, never on a timer; one that
// is busy, loading, failing over or full is merely out of reach.
//
// On a cluster each call goes to the master of the account's slot (redis_route.hpp),
// following MOVED and ASK; the channel is a shard channel there. A push is done only once a
// replica of that master has it (WAIT, bounded): until then it stays in the device's
// journal and is pushed again, so that a master lost before its replica copied a write
// loses nothing a device let go of. A device that finds the account's version behind its
// own reads the account again from the start.
//
// The account's calls are made by one caller at a time; status() is safe from any thread.
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
  // The reply to `arguments` from the server that serves the account, after any redirection;
  // none with `error` saying why.
  RedisReply call(const std::vector<std::string_view>& arguments, std::string& error);
  RedisReply asking(const ClusterNode& node, const std::vector<std::string_view>& arguments,
                    std::string& error);
  bool replicated();
  bool pushCall(std::span<const CloudWrite> writes, std::string_view device,
                std::vector<CloudWriteOutcome>& outcomes);
  bool changesCall(std::int64_t version, std::vector<CloudRow>& rows,
                   std::optional<std::int64_t>& accountVersion);
  bool failed(std::string why);
  // An error in answer to `what`: a refusal of this device lasts, any other passes.
  bool refused(const redisReply& error, std::string_view what);
  // A reply to `what` that is not the `expected` answer, or holds `part` that is not.
  bool malformed(std::string_view what, const redisReply& part, std::string_view expected);
  bool answered();
  bool measureClock(RedisConnection& connection);
  void subscribeLoop();
  std::unique_ptr<RedisConnection> subscribe(RedisOpenError& error);
  bool listen(RedisConnection& subscriber);
  bool stopRequested();
  void backOff(std::chrono::milliseconds delay);
  void waitWhileRefused();
  void noteOpenError(const RedisOpenError& error);

  const std::string url_;
  std::optional<RedisEndpoint> endpoint_;
  std::unique_ptr<RedisRoute> route_;
  std::string valuesKey_, stampsKey_, versionsKey_, stateKey_, channel_;
  std::atomic<std::int64_t> clockOffset_{0};

  // Replaced by the caller under mutex_, and read by the caller without it.
  std::unique_ptr<RedisConnection> commands_;
  std::uint64_t commandsSession_ = 0;  // the subscriber's losses when commands_ was opened

  std::function<void()> onChange_;
  mutable std::mutex mutex_;  // guards commands_ and the eight below
  std::condition_variable wake_;
  bool stopping_ = false;
  bool subscribed_ = false;
  bool offline_ = false;                // the last attempt to reach the server failed
  std::optional<std::string> problem_;  // the server refused us; trying again will not help
  std::optional<std::string> refusal_;  // the last command was refused to this user
  std::string lastError_;
  std::uint64_t lostSubscriptions_ = 0;
  // Ends the subscriber's wait; none when no descriptor was left.
  std::optional<common::EventSignal> wakeup_;
  std::thread subscriber_;
};

}  // namespace quorin::platform::redis
