// Storefront reads under contention, and the cost of selector dispatch and of the C interface
// over a direct call.
#include <benchmark/benchmark.h>

#include "client/quorin_client.hpp"
#include "quorin/quorin.h"
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

// A C facade on the fixture's platform.
qrn_client* cClient() {
  static qrn_client* client = [] {
    quorin::platform::setDefaultPlatform(fixture().platform);
    return qrn_client_create();
  }();
  return client;
}

void BM_CIsTablet(benchmark::State& state) {
  auto* client = cClient();
  for (auto _ : state) benchmark::DoNotOptimize(qrn_client_is_tablet(client));
}
BENCHMARK(BM_CIsTablet);

void BM_CStoreCountry(benchmark::State& state) {
  auto* client = cClient();
  for (auto _ : state) {
    char* country = qrn_client_store_country(client);
    benchmark::DoNotOptimize(country);
    qrn_string_free(country);
  }
}
BENCHMARK(BM_CStoreCountry);

void BM_CIsApplicationInstalled(benchmark::State& state) {
  auto* client = cClient();
  for (auto _ : state)
    benchmark::DoNotOptimize(
        qrn_client_is_application_installed_for_scheme(client, "fb://profile"));
}
BENCHMARK(BM_CIsApplicationInstalled);

}  // namespace

BENCHMARK_MAIN();
