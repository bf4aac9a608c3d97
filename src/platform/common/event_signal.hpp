#pragma once

namespace quorin::platform::common {

// An eventfd that a host's poll() watches: readable from raise() until clear().
class EventSignal {
 public:
  // Throws std::system_error when the process is out of descriptors.
  EventSignal();
  ~EventSignal();
  EventSignal(const EventSignal&) = delete;
  EventSignal& operator=(const EventSignal&) = delete;

  int descriptor() const { return fd_; }
  void raise();
  void clear();

 private:
  int fd_;
};

}  // namespace quorin::platform::common
