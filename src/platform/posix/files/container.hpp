#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quorin::platform::posix {

// How a device's container stood when the platform opened it.
struct OpenedContainer {
  bool made = false;                   // it was not there and is a new, empty device now
  std::optional<std::string> problem;  // why it cannot be used
};

// Opens the container directory, making it only when its parent directory exists: a
// mistyped path is refused rather than becoming a new device somewhere unexpected.
OpenedContainer openContainer(const std::filesystem::path& container);

}  // namespace quorin::platform::posix
