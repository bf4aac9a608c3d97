#include "platform/posix/cloud/directory_watcher.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>

namespace quorin::platform::posix {
namespace {

constexpr std::uint32_t kWatchedEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE;
constexpr int kFallbackPollMilliseconds = 1000;

}  // namespace

DirectoryWatcher::DirectoryWatcher(std::filesystem::path directory, std::string fileName,
                                   std::function<void()> onChange)
    : fileName_(std::move(fileName)), onChange_(std::move(onChange)) {
  inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  wakeup_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  retarget(directory);
  thread_ = std::thread([this] { run(); });
}

DirectoryWatcher::~DirectoryWatcher() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  kick();
  thread_.join();
  if (inotify_ >= 0) ::close(inotify_);
  if (wakeup_ >= 0) ::close(wakeup_);
}

void DirectoryWatcher::retarget(const std::filesystem::path& directory) {
  std::lock_guard lock(mutex_);
  if (inotify_ < 0) return;
  if (watch_ >= 0) ::inotify_rm_watch(inotify_, watch_);
  watch_ = ::inotify_add_watch(inotify_, directory.c_str(), kWatchedEvents | IN_ONLYDIR);
}

void DirectoryWatcher::kick() {
  std::uint64_t one = 1;
  [[maybe_unused]] auto written = ::write(wakeup_, &one, sizeof one);
}

// Reads every queued event; true when one concerns the watched file.
bool DirectoryWatcher::drainEvents() {
  alignas(inotify_event) std::array<char, 4096> buffer;
  bool relevant = false;
  ssize_t length;
  while ((length = ::read(inotify_, buffer.data(), buffer.size())) > 0) {
    std::lock_guard lock(mutex_);
    for (ssize_t offset = 0; offset < length;) {
      inotify_event event;
      std::memcpy(&event, buffer.data() + offset, sizeof event);
      const char* name = buffer.data() + offset + sizeof event;
      if (event.wd == watch_ && event.len > 0 && fileName_ == name) relevant = true;
      offset += static_cast<ssize_t>(sizeof event + event.len);
    }
  }
  return relevant;
}

void DirectoryWatcher::run() {
  while (true) {
    bool watching;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      watching = watch_ >= 0;
    }
    std::array<pollfd, 2> fds{{{wakeup_, POLLIN, 0}, {inotify_, POLLIN, 0}}};
    int ready = ::poll(fds.data(), inotify_ >= 0 ? 2 : 1,
                       watching ? -1 : kFallbackPollMilliseconds);
    if (ready < 0) continue;
    bool changed = ready == 0;
    std::uint64_t kicks = 0;
    if (::read(wakeup_, &kicks, sizeof kicks) > 0) changed = true;
    if (inotify_ >= 0 && drainEvents()) changed = true;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    if (changed) onChange_();
  }
}

}  // namespace quorin::platform::posix
