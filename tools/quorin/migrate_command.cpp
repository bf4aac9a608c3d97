#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "client/quorin_client.hpp"
#include "formats/json.hpp"
#include "formats/json_count.hpp"
#include "host.hpp"
#include "platform/posix/files/file_io.hpp"

namespace quorin::cli {
namespace {

constexpr std::string_view kOutputFiles[] = {"context", "generalInfo", "cachedAnalytics",
                                             "counters", "ltoInfo"};

// Read a megabyte at a time and counted rather than parsed: an output file can be a couple of
// hundred megabytes, and the summary needs no more than what the migration itself did.
std::string describe(const std::filesystem::path& path) {
  platform::common::FileDescriptor file(
      ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file.isOpen() && errno == ENOENT) return "not written";
  if (!file.isOpen()) return "cannot be read: " + std::string(std::strerror(errno));
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return "not a regular file";
  formats::JsonCounter counter;
  std::string piece(1 << 20, '\0');
  // Reading stops where the counter gives up: a stale file of gigabytes of anything else
  // is told at once.
  for (ssize_t got;
       counter.following() && (got = ::read(file.get(), piece.data(), piece.size())) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return "cannot be read: " + std::string(std::strerror(errno));
    counter.feed(std::string_view(piece.data(), static_cast<std::size_t>(got)));
  }
  auto counted = counter.finish();
  std::string bytes = std::to_string(info.st_size) + " bytes";
  if (!counted) return bytes + ", not JSON";
  auto count = std::to_string(counted->count);
  return bytes + (counted->isObject ? ", " + count + " members" : ", " + count + " elements");
}

void printSummary(const std::filesystem::path& directory) {
  std::cout << "output: " << directory.string() << "\n";
  for (auto name : kOutputFiles) std::cout << name << ": " << describe(directory / name) << "\n";
}

// The outline's text, which leaves out a byte-order mark that JSON inside JSON cannot have. A
// document nested as deep as a reader here goes would be too deep one level down, inside the
// summary: it goes out as a string holding its text, which reads as the document on its own.
void printNested(const formats::JsonOutline& outline) {
  if (outline.depth < formats::kMaxJsonDepth) {
    std::cout << outline.text;
    return;
  }
  std::string text;
  formats::appendJsonString(outline.text, text);
  std::cout << text;
}

// One object: the directory, and each document as it was written, or null where there is no
// document. Each document goes out as it is read, through one buffer and one parser.
void printDocuments(platform::FileManager& files, const std::filesystem::path& directory) {
  std::string head = "{\"directory\":";
  if (!formats::appendJsonString(directory.string(), head)) head += "null";
  std::cout << head;
  formats::FileBuffer buffer;
  formats::JsonOutliner outliner;
  for (auto name : kOutputFiles) {
    std::cout << ",\"" << name << "\":";
    bool read = files.readInto(directory / name, buffer);
    auto outline = read ? outliner.outline(buffer.bytes(), buffer.capacity()) : std::nullopt;
    if (outline) {
      printNested(*outline);
    } else {
      std::cout << "null";
    }
  }
  std::cout << "}\n";
}

// What the migration could not read or write. The defaults suites are read outside the
// container's file manager, so they are asked on their own.
std::vector<std::string> troubles(platform::linux::LinuxPlatform& platform) {
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
    printSummary(*directory);
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
