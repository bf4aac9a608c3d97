#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/common/event_signal.hpp"
#include "platform/common/file_descriptor.hpp"

namespace quorin::platform::posix {

// Calls `onChange` on a thread of its own whenever a file named `fileName` in the watched
// directory is written or replaced, and whenever kick() asks. Events that arrive together
// give one call. Where the directory cannot be watched, or no descriptor was left to be
// woken by, it calls every second instead.
class DirectoryWatcher {
 public:
  DirectoryWatcher(std::filesystem::path directory, std::string fileName,
                   std::function<void()> onChange);
  // Waits for a call in progress to end; none starts afterwards.
  ~DirectoryWatcher();
  DirectoryWatcher(const DirectoryWatcher&) = delete;
  DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

  // Watches another directory from now on; safe from any thread, also from `onChange`.
  void retarget(const std::filesystem::path& directory);
  // Asks for a call soon; safe from any thread and never blocks.
  void kick();

 private:
  void run();
  bool drainEvents();

  std::string fileName_;
  std::function<void()> onChange_;
  common::FileDescriptor inotify_;
  std::optional<common::EventSignal> wakeup_;  // raised by kick()
  std::mutex mutex_;
  int watch_ = -1;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace quorin::platform::posix
