#pragma once

#include "platform/posix/file_io.hpp"

namespace quorin::platform::posix {

// An eventfd that a host's poll() watches: readable from raise() until clear().
class EventSignal {
 public:
  // Throws std::system_error when the process is out of descriptors.
  EventSignal();

  int descriptor() const { return fd_.get(); }
  void raise();
  void clear();

 private:
  FileDescriptor fd_;
};

}  // namespace quorin::platform::posix
