// Migration of legacy devices in each analytics shape real devices have, next to simdjson
// loading and parsing the same JSON files (one parser, reused) in the same run, and the peak
// memory of each in a process of its own.
#include <benchmark/benchmark.h>
#include <simdjson.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "client/quorin_client.hpp"
#include "legacy_container.hpp"
#include "platform/linux/linux_platform.hpp"
#include "support/temporary_directory.hpp"

namespace {

namespace fs = std::filesystem;
using quorin::bench::AnalyticsShape;

struct Container {
  explicit Container(AnalyticsShape kind) : shape(kind) {
    files = quorin::bench::writeLegacyContainer(path(), quorin::bench::benchSize(shape));
    for (const auto& file : files) {
      auto size = fs::file_size(file);
      jsonBytes += size;
      largest = std::max<std::size_t>(largest, size);
    }
  }
  // One device on disk at a time, so that the shapes together take no more room than one.
  static Container& get(AnalyticsShape shape) {
    static std::unique_ptr<Container> container;
    if (!container || container->shape != shape) {
      container.reset();
      container = std::make_unique<Container>(shape);
    }
    return *container;
  }
  fs::path path() const { return directory.path() / "device"; }

  AnalyticsShape shape;
  quorin::testing::TemporaryDirectory directory;
  std::vector<fs::path> files;
  std::size_t jsonBytes = 0;
  std::size_t largest = 0;
};

std::optional<std::string> migrate(const fs::path& container) {
  auto platform = std::make_shared<quorin::platform::linux::LinuxPlatform>(
      quorin::platform::linux::LinuxPlatformOptions{.container = container});
  return std::make_shared<quorin::QuorinClient>(platform)->collectMigrationData();
}

// What a plain simdjson program does with the files: load each, parse it, one parser reused.
bool parseWithSimdjson(simdjson::dom::parser& parser, const std::vector<fs::path>& files) {
  for (const auto& file : files) {
    simdjson::padded_string text;
    simdjson::dom::element root;
    if (simdjson::padded_string::load(file.string()).get(text) || parser.parse(text).get(root))
      return false;
    benchmark::DoNotOptimize(root);
  }
  return true;
}

// The peak resident memory, in MB, of this program run again with `arguments`, as the run
// reports it itself: a child's own count would start from what its parent held at the fork.
double peakMegabytesOf(const std::vector<std::string>& arguments) {
  std::string command = "/proc/" + std::to_string(::getpid()) + "/exe";
  for (const auto& argument : arguments) command += " '" + argument + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> child(::popen(command.c_str(), "r"), ::pclose);
  double kilobytes = -1;
  if (!child || std::fscanf(child.get(), "%lf", &kilobytes) != 1) return -1;
  return kilobytes / 1024;
}

// Prints this process's peak resident memory in kB; answers `status`.
int reportPeak(int status) {
  std::ifstream self("/proc/self/status");
  for (std::string line; std::getline(self, line);)
    if (line.starts_with("VmHWM:")) std::printf("%s\n", line.substr(6).c_str());
  return status;
}

constexpr double kMB = 1 << 20;

double seconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

void Migration(benchmark::State& state, AnalyticsShape shape) {
  auto& container = Container::get(shape);
  simdjson::dom::parser parser;
  double migrationSeconds = 0, simdjsonSeconds = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    if (!migrate(container.path())) state.SkipWithError("migration failed");
    auto migrated = std::chrono::steady_clock::now();
    if (!parseWithSimdjson(parser, container.files)) state.SkipWithError("simdjson refused a file");
    auto parsed = std::chrono::steady_clock::now();
    state.SetIterationTime(seconds(migrated - start));
    migrationSeconds += seconds(migrated - start);
    simdjsonSeconds += seconds(parsed - migrated);
  }
  auto megabytes = static_cast<double>(state.iterations()) * container.jsonBytes / kMB;
  state.counters["MB_per_s"] = megabytes / migrationSeconds;
  state.counters["simdjson_MB_per_s"] = megabytes / simdjsonSeconds;
  state.counters["ratio_to_simdjson"] = simdjsonSeconds / migrationSeconds;
  std::vector<std::string> files{"--simdjson-once"};
  for (const auto& file : container.files) files.push_back(file.string());
  state.counters["peak_rss_MB"] = peakMegabytesOf({"--migrate-once", container.path().string()});
  state.counters["simdjson_peak_rss_MB"] = peakMegabytesOf(files);
  state.counters["rss_limit_MB"] = 2 * static_cast<double>(container.largest) / kMB + 64;
  state.counters["json_MB"] = static_cast<double>(container.jsonBytes) / kMB;
}

BENCHMARK_CAPTURE(Migration, keyed_objects, AnalyticsShape::keyedObjects)
    ->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK_CAPTURE(Migration, arrays, AnalyticsShape::arrays)
    ->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK_CAPTURE(Migration, huge_member, AnalyticsShape::hugeMember)
    ->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK_CAPTURE(Migration, small_files, AnalyticsShape::smallFiles)
    ->Unit(benchmark::kMillisecond)->Iterations(50)->UseManualTime();

int simdjsonOnce(int count, char** paths) {
  simdjson::dom::parser parser;
  return parseWithSimdjson(parser, std::vector<fs::path>(paths, paths + count)) ? 0 : 1;
}

}  // namespace

std::optional<AnalyticsShape> shapeNamed(std::string_view name) {
  for (auto shape : {AnalyticsShape::keyedObjects, AnalyticsShape::arrays,
                     AnalyticsShape::hugeMember, AnalyticsShape::smallFiles})
    if (quorin::bench::nameOf(shape) == name) return shape;
  return std::nullopt;
}

// Writes the device of a shape, for scripts that measure other programs on it.
int writeDevice(std::string_view name, const fs::path& container) {
  auto shape = shapeNamed(name);
  if (!shape) return 2;
  quorin::bench::writeLegacyContainer(container, quorin::bench::benchSize(*shape));
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--migrate-once") == 0)
    return reportPeak(migrate(argv[2]) ? 0 : 1);
  if (argc >= 2 && std::strcmp(argv[1], "--simdjson-once") == 0)
    return reportPeak(simdjsonOnce(argc - 2, argv + 2));
  if (argc == 4 && std::strcmp(argv[1], "--write-device") == 0) return writeDevice(argv[2], argv[3]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
