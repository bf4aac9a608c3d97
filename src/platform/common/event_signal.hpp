#pragma once

#include <optional>

#include "platform/common/file_descriptor.hpp"

namespace quorin::platform::common {

// An eventfd that a poll() watches: readable from raise() until clear().
class EventSignal {
 public:
  // Throws std::system_error when the process is out of descriptors.
  EventSignal();
  // None when the process is out of descriptors, for a waiter that can look by itself.
  static std::optional<EventSignal> tryMake();

  int descriptor() const { return fd_.get(); }
  void raise();
  void clear();

 private:
  explicit EventSignal(FileDescriptor fd) : fd_(std::move(fd)) {}

  FileDescriptor fd_;
};

}  // namespace quorin::platform::common
