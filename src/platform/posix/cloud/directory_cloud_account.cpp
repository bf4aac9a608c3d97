#include "platform/posix/cloud/directory_cloud_account.hpp"

#include <chrono>

#include "platform/posix/files/file_io.hpp"

namespace quorin::platform::posix {
namespace {

// The database opens in the directory, so the directory is there before it.
std::filesystem::path madeDirectory(std::filesystem::path directory) {
  makeContainer(directory, 0700);
  return directory;
}

}  // namespace

DirectoryCloudAccount::DirectoryCloudAccount(std::filesystem::path directory)
    : database_(madeDirectory(std::move(directory))) {}

std::int64_t DirectoryCloudAccount::now() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

CloudAccountStatus DirectoryCloudAccount::status() {
  auto problem = database_.problem();
  auto held = problem ? std::nullopt : database_.lockedOut();
  return {"directory", database_.directory().string(), !problem && !held, std::move(problem),
          held.value_or(""), {}, {}};
}

void DirectoryCloudAccount::watch(std::function<void()> onChange) {
  watcher_ = std::make_unique<DirectoryWatcher>(
      database_.directory(), std::string(CloudAccountDatabase::fileName), std::move(onChange));
}

}  // namespace quorin::platform::posix
