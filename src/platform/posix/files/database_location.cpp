#include "platform/posix/files/database_location.hpp"

#include <utility>

namespace quorin::platform::posix {

DatabaseLocation::DatabaseLocation(std::filesystem::path file)
    : root(file.has_parent_path() ? file.parent_path() : "."),
      below(file.filename()),
      makesRootParents(true) {}

DatabaseLocation::DatabaseLocation(std::filesystem::path directory, std::filesystem::path relative)
    : root(std::move(directory)), below(std::move(relative)) {}

}  // namespace quorin::platform::posix
