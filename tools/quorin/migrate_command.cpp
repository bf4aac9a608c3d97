#include <iostream>

#include "host.hpp"
#include "platform/json.hpp"

namespace quorin::cli {
namespace {

constexpr std::string_view kOutputFiles[] = {"context", "generalInfo", "cachedAnalytics",
                                             "counters", "ltoInfo"};

std::string describe(const std::string& bytes) {
  auto outline = platform::outlineJson(bytes);
  std::string size = std::to_string(bytes.size()) + " bytes";
  if (!outline) return size + ", not JSON";
  auto count = std::to_string(outline->count);
  return size + (outline->isObject ? ", " + count + " members" : ", " + count + " elements");
}

void printSummary(platform::FileManager& files, const std::filesystem::path& directory) {
  std::cout << "output: " << directory.string() << "\n";
  for (auto name : kOutputFiles) {
    auto bytes = files.contents(directory / name);
    std::cout << name << ": " << (bytes ? describe(*bytes) : "not written") << "\n";
  }
}

// One object: the directory, and each document as it was written, or null.
void printDocuments(platform::FileManager& files, const std::filesystem::path& directory) {
  std::string out = "{\"directory\":";
  if (!platform::appendJsonString(directory.string(), out)) out += "null";
  for (auto name : kOutputFiles) {
    auto bytes = files.contents(directory / name);
    out += ",\"" + std::string(name) + "\":";
    out += bytes && platform::outlineJson(*bytes) ? *bytes : "null";
  }
  std::cout << out << "}\n";
}

}  // namespace

int runMigrate(const GlobalOptions& options, bool clear) {
  Host host(options);
  auto directory = host.client->collectMigrationData();
  if (!directory) {
    std::cerr << "quorin: nothing to migrate into: the device has no Library directory or "
                 "its defaults suite cannot be opened\n";
    return 1;
  }
  auto& files = host.platform->fileManager();
  if (options.json) {
    printDocuments(files, *directory);
  } else {
    printSummary(files, *directory);
  }
  if (clear) {
    host.client->clearDataAfterMigration();
    if (!options.json) std::cout << "cleared: the legacy data and the output above\n";
  }
  return 0;
}

}  // namespace quorin::cli
