#include <filesystem>
#include <iostream>

#include "client/quorin_client.hpp"
#include "formats/json.hpp"
#include "host.hpp"

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

// What the migration could not read or write. The defaults suites are read outside the
// container's file manager, so they are asked on their own.
std::vector<std::string> troubles(platform::posix::PosixPlatform& platform) {
  auto found = platform.containerFiles().troubles();
  for (auto domain : {QuorinClient::quorinDomain, QuorinClient::morventDomain}) {
    auto suite = platform::posix::PlistUserDefaults::open(platform.preferences(), domain);
    if (auto problem = suite ? suite->problem() : std::nullopt) found.push_back(*problem);
  }
  return found;
}

}  // namespace

int runMigrate(const GlobalOptions& options, const MigrateRequest& request) {
  Host host(options);
  auto directory = host.client->collectMigrationData();
  if (!directory) {
    std::cerr << "quorin: nothing to migrate into: the device has no Library directory or "
                 "its defaults suite cannot be opened\n";
    return 2;
  }
  // Nothing to migrate writes nothing, so only this says that the output had no place.
  std::error_code error;
  auto standing = std::filesystem::symlink_status(*directory, error);
  if (std::filesystem::exists(standing) && !std::filesystem::is_directory(standing)) {
    std::cerr << "quorin: cannot make the output directory " << *directory << ": "
              << (std::filesystem::is_symlink(standing) ? "a symbolic link, never followed, is"
                                                        : "something else is")
              << " in its place\n";
    return 2;
  }
  auto found = troubles(*host.platform);  // before the summary's own reads
  auto& files = host.platform->fileManager();
  if (options.json) {
    printDocuments(files, *directory);
  } else {
    printSummary(files, *directory);
  }
  for (const auto& trouble : found) std::cerr << "quorin: " << trouble << "\n";
  if (request.clear && (found.empty() || request.force)) {
    host.client->clearDataAfterMigration();
    if (!options.json) std::cout << "cleared: the legacy data and the output above\n";
  } else if (request.clear) {
    std::cerr << "quorin: not cleared: the legacy data is kept, since not all of it was "
                 "migrated (--force clears it anyway)\n";
  }
  return found.empty() ? 0 : 2;
}

}  // namespace quorin::cli
