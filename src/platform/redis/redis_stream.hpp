#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/common/file_descriptor.hpp"

namespace quorin::platform::redis {

using Deadline = std::chrono::steady_clock::time_point;

// What one read takes from a socket: a reply larger than this takes several reads, between
// which the caller checks its limits and its deadline.
inline constexpr std::size_t kReadChunk = 16 * 1024;

// The bytes between this device and the server: a socket of its own, non-blocking, so that
// every wait ends at a deadline, even while bytes keep coming. A failed call leaves the
// stream unusable and says why; `refused` marks a failure that trying again will not mend
// (a certificate check).
class ByteStream {
 public:
  virtual ~ByteStream() = default;

  virtual bool send(std::string_view bytes, Deadline deadline) = 0;
  // Appends what has arrived, at most about kReadChunk bytes, without waiting; false only
  // when the stream failed.
  virtual bool receiveReady(std::string& into) = 0;
  virtual int fd() const = 0;

  // Waits until something arrives, then appends it.
  bool receive(std::string& into, Deadline deadline);
  // Waits until the socket can be read (or written, with `output`); false once the
  // deadline has passed, whatever the socket holds.
  bool wait(Deadline deadline, bool output = false);

  const std::string& error() const { return error_; }
  bool refused() const { return refused_; }

 protected:
  bool fail(std::string why, bool refused = false);

 private:
  std::string error_ = "no error";
  bool refused_ = false;
};

// A connected socket, closed with its holder.
class Socket final : public ByteStream {
 public:
  static std::unique_ptr<Socket> connectTcp(const std::string& host, int port, Deadline deadline,
                                            std::string& error);
  static std::unique_ptr<Socket> connectUnix(const std::string& path, Deadline deadline,
                                             std::string& error);
  explicit Socket(common::FileDescriptor fd) : fd_(std::move(fd)) {}

  bool send(std::string_view bytes, Deadline deadline) override;
  bool receiveReady(std::string& into) override;
  int fd() const override { return fd_.get(); }

 private:
  common::FileDescriptor fd_;
};

}  // namespace quorin::platform::redis
