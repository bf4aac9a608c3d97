#pragma once

#include <utility>

namespace quorin::platform::common {

// An owned file descriptor; negative when nothing was opened.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(FileDescriptor&& other) noexcept;
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;

  int get() const { return fd_; }
  bool isOpen() const { return fd_ >= 0; }
  // Closes now, for callers that need close()'s own result.
  int close();
  // Hands the descriptor to a new owner, as fdopendir() becomes on success.
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

}  // namespace quorin::platform::common
