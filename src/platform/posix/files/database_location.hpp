#pragma once

#include <filesystem>

namespace quorin::platform::posix {

// A database file below a directory the host names. That directory may be reached through
// symbolic links; nothing from it down to the file may be one, so that the file stays inside.
struct DatabaseLocation {
  // Implicit: a plain path names a file below its own directory, the current one for a bare
  // name; that directory is made with its missing parents.
  DatabaseLocation(std::filesystem::path file);
  // `directory` is a device's container or an account's directory: made only when its parent
  // exists.
  DatabaseLocation(std::filesystem::path directory, std::filesystem::path relative);

  std::filesystem::path file() const { return root / below; }

  std::filesystem::path root;
  std::filesystem::path below;
  bool makesRootParents = false;
};

}  // namespace quorin::platform::posix
