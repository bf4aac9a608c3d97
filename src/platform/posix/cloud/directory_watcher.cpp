#include "platform/posix/cloud/directory_watcher.hpp"

#include <poll.h>
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
    : fileName_(std::move(fileName)),
      onChange_(std::move(onChange)),
      inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
      wakeup_(common::EventSignal::tryMake()) {
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
}

void DirectoryWatcher::retarget(const std::filesystem::path& directory) {
  std::lock_guard lock(mutex_);
  if (!inotify_.isOpen()) return;
  if (watch_ >= 0) ::inotify_rm_watch(inotify_.get(), watch_);
  watch_ = ::inotify_add_watch(inotify_.get(), directory.c_str(), kWatchedEvents | IN_ONLYDIR);
}

void DirectoryWatcher::kick() {
  if (wakeup_) wakeup_->raise();
}

// Reads every queued event; true when one concerns the watched file.
bool DirectoryWatcher::drainEvents() {
  alignas(inotify_event) std::array<char, 4096> buffer;
  bool relevant = false;
  ssize_t length;
  while ((length = ::read(inotify_.get(), buffer.data(), buffer.size())) > 0) {
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
      watching = watch_ >= 0 && wakeup_;
    }
    int wakeup = wakeup_ ? wakeup_->descriptor() : -1;
    std::array<pollfd, 2> fds{{{wakeup, POLLIN, 0}, {inotify_.get(), POLLIN, 0}}};
    int ready =
        ::poll(fds.data(), inotify_.isOpen() ? 2 : 1, watching ? -1 : kFallbackPollMilliseconds);
    if (ready < 0) continue;
    bool changed = ready == 0 || fds[0].revents;
    if (fds[0].revents) wakeup_->clear();
    if (inotify_.isOpen() && drainEvents()) changed = true;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    if (changed) onChange_();
  }
}

}  // namespace quorin::platform::posix
