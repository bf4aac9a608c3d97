// Keychain reads and updates on 10,000 sealed items, next to raw prepared SQLite statements on
// the same database and schema, and the cost of sealing and opening one value alone: a read
// without sealing would cost the sealed read less the opening.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstring>
#include <random>

#include "keychain/keychain.hpp"
#include "platform/linux/linux_platform.hpp"
#include "platform/posix/keychain/value_sealer.hpp"
#include "support/temporary_directory.hpp"

namespace {

constexpr int kItems = 10'000;
// A sealed "updated": nonce, value and tag.
constexpr std::size_t kSealedBytes = 24 + 7 + 16;

struct Fixture {
  Fixture() {
    keychain = quorin::keychain::Keychain::withService(platform, "bench");
    for (int i = 0; i < kItems; ++i) keychain->set("value-" + std::to_string(i), key(i));
    sqlite3_open_v2(database().c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_busy_timeout(raw, 5000);
    sqlite3_exec(raw, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(
        raw, "SELECT data FROM items WHERE class = 'genp' AND acct = ?1 AND svce = 'bench'", -1,
        &select, nullptr);
    sqlite3_prepare_v2(
        raw,
        "UPDATE items SET data = ?1, mdat = ?2 WHERE class = 'genp' AND acct = ?3 AND "
        "svce = 'bench'",
        -1, &update, nullptr);
  }
  ~Fixture() {
    sqlite3_finalize(select);
    sqlite3_finalize(update);
    sqlite3_close(raw);
  }
  static std::string key(int i) { return "key-" + std::to_string(i); }
  std::filesystem::path database() const {
    return directory.path() / "Library" / "Keychains" / "keychain.db";
  }

  quorin::testing::TemporaryDirectory directory;
  std::shared_ptr<quorin::platform::linux::LinuxPlatform> platform =
      std::make_shared<quorin::platform::linux::LinuxPlatform>(
          quorin::platform::linux::LinuxPlatformOptions{
              .container = directory.path(),
              .cloudAccount = (directory.path() / "cloud").string(),
              .keychainKey = {.store = "key-file"}});
  quorin::keychain::Keychain::Ptr keychain;
  sqlite3* raw = nullptr;
  sqlite3_stmt* select = nullptr;
  sqlite3_stmt* update = nullptr;
};

Fixture& fixture() {
  static Fixture shared;
  return shared;
}

std::vector<std::string> randomKeys() {
  std::mt19937 random(7);
  std::vector<std::string> keys;
  for (int i = 0; i < 1024; ++i) keys.push_back(Fixture::key(static_cast<int>(random() % kItems)));
  return keys;
}

void BM_KeychainGetString(benchmark::State& state) {
  auto& f = fixture();
  auto keys = randomKeys();
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(f.keychain->getString(keys[i++ % keys.size()]));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KeychainGetString);

void BM_RawSqliteSelect(benchmark::State& state) {
  auto& f = fixture();
  auto keys = randomKeys();
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& key = keys[i++ % keys.size()];
    sqlite3_bind_text(f.select, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    if (sqlite3_step(f.select) != SQLITE_ROW) state.SkipWithError("no row");
    std::string value(static_cast<const char*>(sqlite3_column_blob(f.select, 0)),
                      static_cast<std::size_t>(sqlite3_column_bytes(f.select, 0)));
    benchmark::DoNotOptimize(value);
    sqlite3_reset(f.select);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawSqliteSelect);

void BM_KeychainSetUpdate(benchmark::State& state) {
  auto& f = fixture();
  auto keys = randomKeys();
  std::size_t i = 0;
  for (auto _ : state) f.keychain->set("updated", keys[i++ % keys.size()]);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KeychainSetUpdate);

// Every update writes bytes the row did not hold, as a keychain update does (a fresh nonce and
// date): SQLite skips writing, and syncing, a row rewritten with the bytes it already has.
void BM_RawSqliteUpdate(benchmark::State& state) {
  auto& f = fixture();
  auto keys = randomKeys();
  std::size_t i = 0;
  std::string value(kSealedBytes, 'v');
  for (auto _ : state) {
    const auto& key = keys[i++ % keys.size()];
    std::memcpy(value.data(), &i, sizeof i);
    sqlite3_bind_blob(f.update, 1, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
    sqlite3_bind_double(f.update, 2, static_cast<double>(i));
    sqlite3_bind_text(f.update, 3, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    if (sqlite3_step(f.update) != SQLITE_DONE || sqlite3_changes(f.raw) != 1)
      state.SkipWithError(sqlite3_errmsg(f.raw));
    sqlite3_reset(f.update);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawSqliteUpdate);

// An item's value and what it is bound to, sized as the fixture's are.
const std::string kValue = "value-1234";
const std::string kIdentity(64, 'i');

void BM_SealValue(benchmark::State& state) {
  quorin::platform::posix::ValueSealer sealer(quorin::platform::posix::randomKeychainKey());
  std::span<const std::uint8_t> value(reinterpret_cast<const std::uint8_t*>(kValue.data()),
                                      kValue.size());
  for (auto _ : state) benchmark::DoNotOptimize(sealer.seal(value, kIdentity));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SealValue);

void BM_OpenValue(benchmark::State& state) {
  quorin::platform::posix::ValueSealer sealer(quorin::platform::posix::randomKeychainKey());
  auto sealed =
      sealer.seal({reinterpret_cast<const std::uint8_t*>(kValue.data()), kValue.size()}, kIdentity);
  for (auto _ : state) benchmark::DoNotOptimize(sealer.open(sealed, kIdentity));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenValue);

}  // namespace

BENCHMARK_MAIN();
