// Storefront reads under contention, and the cost of selector dispatch over a direct call.
#include <benchmark/benchmark.h>

#include "client/quorin_client.hpp"
#include "support/in_memory_platform.hpp"

namespace {

using quorin::testing::InMemoryPlatform;

struct Fixture {
  Fixture() { platform->payments.changeStorefront(quorin::platform::Storefront{"USA", "143441"}); }
  std::shared_ptr<InMemoryPlatform> platform = std::make_shared<InMemoryPlatform>();
  QRNQuorinClient facade{platform};
};

Fixture& fixture() {
  static Fixture shared;
  return shared;
}

void BM_StoreCountry(benchmark::State& state) {
  auto& facade = fixture().facade;
  for (auto _ : state) benchmark::DoNotOptimize(facade.storeCountry());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StoreCountry)->Threads(1)->Threads(2)->Threads(8)->UseRealTime();

void BM_DirectIsTablet(benchmark::State& state) {
  auto& facade = fixture().facade;
  for (auto _ : state) benchmark::DoNotOptimize(facade.isTablet());
}
BENCHMARK(BM_DirectIsTablet);

void BM_PerformIsTablet(benchmark::State& state) {
  auto& facade = fixture().facade;
  for (auto _ : state) benchmark::DoNotOptimize(facade.perform("isTablet"));
}
BENCHMARK(BM_PerformIsTablet);

void BM_DirectIsApplicationInstalled(benchmark::State& state) {
  auto& facade = fixture().facade;
  std::string scheme = "fb://profile";
  for (auto _ : state) benchmark::DoNotOptimize(facade.isApplicationInstalledForScheme(scheme));
}
BENCHMARK(BM_DirectIsApplicationInstalled);

void BM_PerformIsApplicationInstalled(benchmark::State& state) {
  auto& facade = fixture().facade;
  const QRNValue arguments[] = {std::string("fb://profile")};
  for (auto _ : state)
    benchmark::DoNotOptimize(facade.perform("isApplicationInstalledForScheme:", arguments));
}
BENCHMARK(BM_PerformIsApplicationInstalled);

}  // namespace

BENCHMARK_MAIN();
