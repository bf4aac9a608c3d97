#include "stdin_value.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "formats/utf8.hpp"

namespace quorin::cli {
namespace {

// Far above the cloud store's 1 MB quota and any keychain value, so only a mistake (a device
// or an endless pipe on standard input) reaches it.
constexpr std::size_t kLargestValue = 16 * 1024 * 1024;

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

std::optional<std::string> valueFromArgument(const std::string& argument) {
  if (argument != "-") return argument;
  auto bytes = readStandardInput();
  if (bytes && !platform::isValidUtf8(*bytes)) {
    std::cerr << "quorin: not saved: the value read from standard input is not UTF-8 text\n";
    return std::nullopt;
  }
  return bytes;
}

}  // namespace quorin::cli
