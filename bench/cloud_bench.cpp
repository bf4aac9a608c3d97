// Cost per key of reads waiting on the cloud store, from 1,000 to 100,000 keys at once:
// opening the waits, answering them all with one external change, and timing them out,
// next to a bare hash map that holds one node per key.
#include <benchmark/benchmark.h>

#include <unordered_map>

#include "cloud/cloud_key_value_store.hpp"
#include "support/in_memory_platform.hpp"

namespace {

using quorin::cloud::CloudKeyValueStore;
using quorin::formats::Value;
using quorin::testing::InMemoryPlatform;

struct Waiting {
  explicit Waiting(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) keys.push_back("key-" + std::to_string(i));
  }
  void fetchAll() {
    for (const auto& key : keys) store->fetchValue(key, [this](const auto&) { ++answered; });
  }

  InMemoryPlatform platform;
  std::shared_ptr<CloudKeyValueStore> store = CloudKeyValueStore::make(platform);
  std::vector<std::string> keys;
  std::size_t answered = 0;
};

void perKey(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["ns_per_key"] = benchmark::Counter(
      static_cast<double>(state.iterations() * state.range(0)),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_FetchOpensWaits(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto waiting = std::make_unique<Waiting>(static_cast<std::size_t>(state.range(0)));
    state.ResumeTiming();
    waiting->fetchAll();
    state.PauseTiming();
    waiting.reset();
    state.ResumeTiming();
  }
  perKey(state);
}

// Times `answer`, which must answer every one of the waiting reads.
template <typename Answer>
void answerAll(benchmark::State& state, bool valuesArrive, Answer answer) {
  for (auto _ : state) {
    state.PauseTiming();
    auto waiting = std::make_unique<Waiting>(static_cast<std::size_t>(state.range(0)));
    waiting->fetchAll();
    if (valuesArrive) {
      for (const auto& key : waiting->keys)
        waiting->platform.cloud.setObjectDirectly(key, Value("v"));
    }
    state.ResumeTiming();
    answer(*waiting);
    waiting->platform.mainLoop().drainPending();
    state.PauseTiming();
    if (waiting->answered != waiting->keys.size()) state.SkipWithError("not every read answered");
    waiting.reset();
    state.ResumeTiming();
  }
  perKey(state);
}

void BM_OneChangeAnswersAll(benchmark::State& state) {
  answerAll(state, true, [](Waiting& waiting) {
    waiting.platform.cloud.postChange(quorin::platform::UbiquitousChangeReason::serverChange,
                                      waiting.keys);
  });
}

void BM_TimeOutAnswersAll(benchmark::State& state) {
  answerAll(state, false, [](Waiting& waiting) {
    waiting.platform.clock.advance(CloudKeyValueStore::waitTimeout);
  });
}

// The floor under every figure above: one hash-map node per key, inserted and then taken out,
// touches memory the same way and grows with the key count only as the caches run out.
void BM_BareMapInsertThenExtract(benchmark::State& state) {
  Waiting keys(0);
  for (std::size_t i = 0; i < static_cast<std::size_t>(state.range(0)); ++i)
    keys.keys.push_back("key-" + std::to_string(i));
  for (auto _ : state) {
    std::unordered_map<std::string, std::function<void()>> map;
    for (const auto& key : keys.keys) map.emplace(key, [] {});
    for (const auto& key : keys.keys) benchmark::DoNotOptimize(map.extract(key));
  }
  perKey(state);
}

BENCHMARK(BM_BareMapInsertThenExtract)->Arg(1'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FetchOpensWaits)->Arg(1'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneChangeAnswersAll)->Arg(1'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TimeOutAnswersAll)->Arg(1'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
