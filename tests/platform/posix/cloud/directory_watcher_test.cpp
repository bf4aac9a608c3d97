#include "platform/posix/cloud/directory_watcher.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "support/descriptor_shortage.hpp"
#include "support/eventually.hpp"
#include "support/forked_child.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

using quorin::testing::eventually;

// Whether every other thread sleeps, as the watcher's does once it waits in poll().
bool othersAsleep() {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    if (task.path().filename() == std::to_string(::gettid())) continue;
    std::ifstream stat(task.path() / "stat");
    std::string line;
    std::getline(stat, line);
    auto end = line.rfind(')');
    if (end == std::string::npos || line.substr(end + 2, 1) != "S") return false;
  }
  return true;
}

TEST(DirectoryWatcherTest, CallsWhenKickedAndWhenTheWatchedFileIsWritten) {
  quorin::testing::TemporaryDirectory directory;
  std::atomic<int> calls = 0;
  DirectoryWatcher watcher(directory.path(), "account.db", [&] { ++calls; });
  watcher.kick();
  ASSERT_TRUE(eventually([&] { return calls > 0; })) << "a kick asks for a call";
  int before = calls;
  std::ofstream(directory.path() / "account.db") << "written";
  ASSERT_TRUE(eventually([&] { return calls > before; }));
}

// With the last descriptor taken by the watcher's inotify instance, none is left to wake it:
// it looks by itself every so often, and so it still ends when asked once it waits.
TEST(DirectoryWatcherTest, AWatcherWithoutAWakeUpStillEnds) {
  if (auto why = quorin::testing::whyNoDescriptorShortage()) GTEST_SKIP() << *why;
  quorin::testing::expectForkedChildSucceeds([] {
    quorin::testing::TemporaryDirectory directory;
    std::unique_ptr<DirectoryWatcher> watcher;
    if (!quorin::testing::withDescriptorsLeft(1, [&] {
          watcher = std::make_unique<DirectoryWatcher>(directory.path(), "account.db", [] {});
        }))
      ::_exit(4);
    if (!eventually(othersAsleep)) ::_exit(3);
    watcher.reset();
  });
}

}  // namespace
}  // namespace quorin::platform::posix
