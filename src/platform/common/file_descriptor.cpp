#include "platform/common/file_descriptor.hpp"

#include <unistd.h>

namespace quorin::platform::common {

FileDescriptor::~FileDescriptor() {
  close();
}

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

int FileDescriptor::close() {
  return fd_ < 0 ? 0 : ::close(std::exchange(fd_, -1));
}

}  // namespace quorin::platform::common
