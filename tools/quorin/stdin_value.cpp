#include "stdin_value.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "formats/utf8.hpp"

namespace quorin::cli {
namespace {

// Far above the cloud store's 1 MB quota and any keychain value, so only a mistake (a device
// or an endless pipe on standard input) reaches it.
constexpr std::size_t kLargestValue = 16 * 1024 * 1024;

bool inputWasClosed = false;

std::optional<std::string> readStandardInput() {
  std::string bytes;
  char buffer[65536];
  while (true) {
    ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got == 0) return bytes;
    if (got > 0) {
      bytes.append(buffer, static_cast<std::size_t>(got));
      if (bytes.size() > kLargestValue) {
        std::cerr << "quorin: not saved: the value read from standard input is larger than "
                  << kLargestValue << " bytes\n";
        return std::nullopt;
      }
    } else if (errno != EINTR) {
      std::cerr << "quorin: cannot read the value from standard input: " << std::strerror(errno)
                << "\n";
      return std::nullopt;
    }
  }
}

}  // namespace

// Descriptors are handed out lowest first, so each open lands on the one found closed. Without
// /dev/null no file could be opened safely, so quorin stops at once.
void claimStandardDescriptors() {
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == STDIN_FILENO) inputWasClosed = true;
    if (::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) != fd) std::_Exit(2);
  }
}

bool standardInputWasClosed() {
  return inputWasClosed;
}

std::optional<std::string> valueFromArgument(const std::string& argument) {
  if (argument != "-") return argument;
  if (inputWasClosed) {
    std::cerr << "quorin: not saved: the value is read from standard input, which is closed\n";
    return std::nullopt;
  }
  auto bytes = readStandardInput();
  if (bytes && !formats::isValidUtf8(*bytes)) {
    std::cerr << "quorin: not saved: the value read from standard input is not UTF-8 text\n";
    return std::nullopt;
  }
  return bytes;
}

}  // namespace quorin::cli
