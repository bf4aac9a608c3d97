// Migration of a heavy legacy device (analytics files of 200 MB, 10,000 offers, a suite of
// 10,000 keys), next to simdjson parsing the same JSON files in the same run, and the peak
// memory of one migration in a process of its own.
#include <benchmark/benchmark.h>
#include <simdjson.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "client/quorin_client.hpp"
#include "legacy_container.hpp"
#include "platform/linux/posix_platform.hpp"
#include "support/temporary_directory.hpp"

namespace {

namespace fs = std::filesystem;

struct Container {
  Container() {
    files = quorin::bench::writeLegacyContainer(path(), {});
    for (const auto& file : files) {
      auto size = fs::file_size(file);
      jsonBytes += size;
      largest = std::max<std::size_t>(largest, size);
    }
  }
  static Container& get() {
    static Container container;
    return container;
  }
  fs::path path() const { return directory.path() / "device"; }

  quorin::testing::TemporaryDirectory directory;
  std::vector<fs::path> files;
  std::size_t jsonBytes = 0;
  std::size_t largest = 0;
};

std::optional<std::string> migrate(const fs::path& container) {
  auto platform = std::make_shared<quorin::platform::posix::PosixPlatform>(
      quorin::platform::posix::PosixPlatformOptions{.container = container});
  return std::make_shared<quorin::QuorinClient>(platform)->collectMigrationData();
}

constexpr double kMB = 1 << 20;

void MigrationPeakMemory(benchmark::State& state) {
  auto& container = Container::get();
  long peakKilobytes = 0;
  for (auto _ : state) {
    pid_t child = ::fork();
    if (child == 0) {
      ::execl("/proc/self/exe", "migration_bench", "--migrate-once", container.path().c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("migration failed");
    peakKilobytes = std::max(peakKilobytes, usage.ru_maxrss);
  }
  state.counters["peak_rss_MB"] = static_cast<double>(peakKilobytes) * 1024 / kMB;
  state.counters["largest_file_MB"] = static_cast<double>(container.largest) / kMB;
  state.counters["target_MB"] = 2.5 * static_cast<double>(container.largest) / kMB + 64;
}
BENCHMARK(MigrationPeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void Migration(benchmark::State& state) {
  auto& container = Container::get();
  for (auto _ : state) benchmark::DoNotOptimize(migrate(container.path()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * container.jsonBytes));
}
BENCHMARK(Migration)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// simdjson's own DOM parse of the same files, already in memory, with one parser reused.
void SimdjsonParse(benchmark::State& state) {
  auto& container = Container::get();
  std::vector<simdjson::padded_string> documents;
  for (const auto& file : container.files)
    documents.push_back(simdjson::padded_string::load(file.string()).value());
  simdjson::dom::parser parser;
  for (auto _ : state) {
    for (const auto& document : documents) {
      simdjson::dom::element root;
      if (parser.parse(document).get(root)) state.SkipWithError("simdjson refused a file");
      benchmark::DoNotOptimize(root);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * container.jsonBytes));
}
BENCHMARK(SimdjsonParse)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--migrate-once") == 0) return migrate(argv[2]) ? 0 : 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
