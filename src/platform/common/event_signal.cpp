#include "platform/common/event_signal.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace quorin::platform::common {

EventSignal::EventSignal() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (!fd_.isOpen()) throw std::system_error(errno, std::generic_category(), "eventfd");
}

std::optional<EventSignal> EventSignal::tryMake() {
  FileDescriptor fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!fd.isOpen()) return std::nullopt;
  return EventSignal(std::move(fd));
}

void EventSignal::raise() {
  std::uint64_t one = 1;
  // Only a counter at its limit refuses the write, and such a counter is readable already.
  [[maybe_unused]] auto written = ::write(fd_.get(), &one, sizeof one);
}

void EventSignal::clear() {
  std::uint64_t count;
  // Reading resets the counter; an empty counter refuses the read, which is as good.
  [[maybe_unused]] auto got = ::read(fd_.get(), &count, sizeof count);
}

}  // namespace quorin::platform::common
