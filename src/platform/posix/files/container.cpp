#include "platform/posix/files/container.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/files/file_io.hpp"

namespace quorin::platform::posix {
namespace {

std::string cannotMake(const std::filesystem::path& container, const std::string& why) {
  return "cannot make the device container " + container.string() + ": " + why;
}

OpenedContainer make(const std::filesystem::path& container) {
  if (!makeContainer(container, 0700))
    return {false, cannotMake(container, whyNotMade(container, errno))};
  return {true, std::nullopt};
}

}  // namespace

OpenedContainer openContainer(const std::filesystem::path& container) {
  struct stat info;
  if (::stat(container.c_str(), &info) != 0) {
    if (errno == ENOENT) return make(container);
    return {false,
            "cannot read the device container " + container.string() + ": " + std::strerror(errno)};
  }
  if (!S_ISDIR(info.st_mode))
    return {false, "the device container " + container.string() + " is not a directory"};
  if (::access(container.c_str(), R_OK | W_OK | X_OK) != 0)
    return {false,
            "cannot read the device container " + container.string() + ": " + std::strerror(errno)};
  return {};
}

}  // namespace quorin::platform::posix
