// Two devices in two processes on one cloud account, the Redis backend (on a unix socket, on
// loopback TCP, over TLS on loopback, and on a three-master Redis Cluster on loopback) next
// to the directory one: how long a write takes to reach the other device as a change
// notification (p50 and p99), and how many writes a second travel from one to the other.
// Every write is durable on the writer before it is pushed; the single Redis servers sync
// their append-only files on every write, and on the cluster a push is done once the
// master's replica has it (WAIT).
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/common/local_notification_center.hpp"
#include "platform/linux/cloud_account_location.hpp"
#include "platform/posix/cloud/replica_ubiquitous_store.hpp"
#include "support/redis_cluster.hpp"
#include "support/redis_server.hpp"
#include "support/temporary_directory.hpp"
#include "support/tls_redis_server.hpp"

namespace {

using namespace quorin::platform;
using namespace quorin::platform::posix;
using quorin::formats::Value;
using quorin::platform::common::LocalNotificationCenter;
using Clock = std::chrono::steady_clock;

constexpr const char* kKey = "counter";

// The server every Redis run shares, started once; an unreachable account without one.
std::string redisLocation(const std::string& account) {
  static quorin::testing::TemporaryDirectory directory;
  static quorin::testing::RedisServer server(directory.path());
  static bool started = server.start();
  return started ? server.url(account) : "unix:///nonexistent?account=" + account;
}

// The server every TCP run shares, serving TLS and plain TCP side by side.
std::string tcpLocation(const std::string& account, bool tls) {
  static quorin::testing::TemporaryDirectory directory;
  static auto certificates = quorin::testing::TestCertificates::make();
  static std::unique_ptr<quorin::testing::TlsRedisServer> server;
  if (!server && certificates) {
    server = std::make_unique<quorin::testing::TlsRedisServer>(
        *certificates, directory.path(),
        quorin::testing::TlsRedisServer::Options{"server", false, std::nullopt, true});
    if (!server->start()) server.reset();
  }
  if (!server) return "unix:///nonexistent?account=" + account;
  if (tls) return server->url(account);
  return "redis://localhost:" + std::to_string(server->plainPort()) + "/0?account=" + account;
}

// The cluster every cluster run shares, reached through its first node.
std::string clusterLocation(const std::string& account) {
  auto nodes = quorin::testing::sharedRedisCluster();
  if (!nodes) return "unix:///nonexistent?account=" + account;
  return "redis://" + nodes->front() + "/0?account=" + account;
}

std::unique_ptr<ReplicaUbiquitousStore> openDevice(const std::string& location,
                                                   const std::filesystem::path& journals,
                                                   NotificationCenter& center) {
  return std::make_unique<ReplicaUbiquitousStore>(
      std::make_shared<CloudAccountSelection>(location, linux::cloudAccountKinds()), journals,
      center);
}

// The other process: on each request of n writes it writes the next n counter values,
// each pushed on its own, and answers when done.
class Writer {
 public:
  Writer(const std::string& location, const std::filesystem::path& journals) {
    int requests[2], answers[2];
    if (::pipe(requests) != 0 || ::pipe(answers) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(requests[1]);
      ::close(answers[0]);
      serve(location, journals, requests[0], answers[1]);
      ::_exit(0);
    }
    ::close(requests[0]);
    ::close(answers[1]);
    requests_ = requests[1];
    answers_ = answers[0];
  }
  ~Writer() {
    ::close(requests_);
    ::close(answers_);
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
  }

  bool write(std::int32_t count) {
    char done;
    return ::write(requests_, &count, sizeof count) == sizeof count &&
           ::read(answers_, &done, 1) == 1;
  }

 private:
  static void serve(const std::string& location, const std::filesystem::path& journals,
                    int requests, int answers) {
    LocalNotificationCenter center;
    auto device = openDevice(location, journals, center);
    std::int64_t next = 0;
    std::int32_t count;
    while (::read(requests, &count, sizeof count) == sizeof count) {
      for (std::int32_t i = 0; i < count; ++i) {
        device->setObject(Value(++next), kKey);
        device->exchange();
      }
      if (::write(answers, "d", 1) != 1) return;
    }
  }

  pid_t pid_ = -1;
  int requests_ = -1;
  int answers_ = -1;
};

// This process's device, told of every change by the account's watcher.
class Reader {
 public:
  Reader(const std::string& location, const std::filesystem::path& journals)
      : device_(openDevice(location, journals, center_)) {
    center_.addObserver(this, std::string(kUbiquitousKeyValueStoreDidChangeExternallyNotification),
                        nullptr, [this](const auto&) { noticed(); });
    device_->synchronize();  // from now on told of the writer's changes
  }
  ~Reader() {
    center_.removeObserver(this, kUbiquitousKeyValueStoreDidChangeExternallyNotification, nullptr);
  }

  bool waitFor(std::int64_t value) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return seen_ >= value; });
  }

 private:
  void noticed() {
    auto value = device_->objectForKey(kKey);
    const auto* number = value ? value->get<std::int64_t>() : nullptr;
    std::lock_guard lock(mutex_);
    if (number) seen_ = std::max(seen_, *number);
    changed_.notify_all();
  }

  LocalNotificationCenter center_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::int64_t seen_ = 0;
  std::unique_ptr<ReplicaUbiquitousStore> device_;
};

enum class Backend { directory, redis, redisTcp, redisTls, redisCluster };

std::string locationFor(Backend backend, const std::filesystem::path& root,
                        const std::string& account) {
  auto fresh = quorin::testing::freshAccountName(account);
  switch (backend) {
    case Backend::directory:
      return (root / account).string();
    case Backend::redis:
      return redisLocation(fresh);
    case Backend::redisTcp:
      return tcpLocation(fresh, false);
    case Backend::redisTls:
      return tcpLocation(fresh, true);
    case Backend::redisCluster:
      return clusterLocation(fresh);
  }
  return {};
}

// Two devices on a fresh account: a directory of the pair's own, or one on a shared server.
// The writer is forked before this process starts any thread of its own.
struct Pair {
  Pair(Backend backend, const std::string& account)
      : location(locationFor(backend, root.path(), account)),
        writer(location, root.path() / "writer"),
        reader(location, root.path() / "reader") {}

  bool round(std::int32_t count) {
    written += count;
    return writer.write(count) && reader.waitFor(written);
  }

  quorin::testing::TemporaryDirectory root;
  std::string location;
  Writer writer;
  Reader reader;
  std::int64_t written = 0;
};

void BM_ChangeNotificationLatency(benchmark::State& state, Backend backend) {
  Pair pair(backend, "latency");
  if (!pair.round(1)) return state.SkipWithError("the first change never arrived");
  std::vector<double> micros;
  for (auto _ : state) {
    auto start = Clock::now();
    if (!pair.round(1)) return state.SkipWithError("a change never arrived");
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(micros.begin(), micros.end());
  state.counters["p50_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}

void BM_WritesBetweenProcesses(benchmark::State& state, Backend backend) {
  constexpr std::int32_t kBatch = 100;
  Pair pair(backend, "throughput");
  if (!pair.round(1)) return state.SkipWithError("the first change never arrived");
  for (auto _ : state) {
    if (!pair.round(kBatch)) return state.SkipWithError("the writes never all arrived");
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void measured(benchmark::internal::Benchmark* benchmark) {
  benchmark->UseRealTime()->Unit(benchmark::kMicrosecond);
}

BENCHMARK_CAPTURE(BM_ChangeNotificationLatency, directory, Backend::directory)
    ->Apply(measured)
    ->Iterations(300);
BENCHMARK_CAPTURE(BM_ChangeNotificationLatency, redis, Backend::redis)
    ->Apply(measured)
    ->Iterations(300);
BENCHMARK_CAPTURE(BM_ChangeNotificationLatency, redis_tcp, Backend::redisTcp)
    ->Apply(measured)
    ->Iterations(300);
BENCHMARK_CAPTURE(BM_ChangeNotificationLatency, redis_tls, Backend::redisTls)
    ->Apply(measured)
    ->Iterations(300);
BENCHMARK_CAPTURE(BM_ChangeNotificationLatency, redis_cluster, Backend::redisCluster)
    ->Apply(measured)
    ->Iterations(300);
BENCHMARK_CAPTURE(BM_WritesBetweenProcesses, directory, Backend::directory)
    ->Apply(measured)
    ->Iterations(10);
BENCHMARK_CAPTURE(BM_WritesBetweenProcesses, redis, Backend::redis)
    ->Apply(measured)
    ->Iterations(10);
BENCHMARK_CAPTURE(BM_WritesBetweenProcesses, redis_tcp, Backend::redisTcp)
    ->Apply(measured)
    ->Iterations(10);
BENCHMARK_CAPTURE(BM_WritesBetweenProcesses, redis_tls, Backend::redisTls)
    ->Apply(measured)
    ->Iterations(10);
BENCHMARK_CAPTURE(BM_WritesBetweenProcesses, redis_cluster, Backend::redisCluster)
    ->Apply(measured)
    ->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
