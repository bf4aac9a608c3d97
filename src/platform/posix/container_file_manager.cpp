#include "platform/posix/container_file_manager.hpp"

#include "platform/posix/file_io.hpp"

namespace quorin::platform::posix {

bool ContainerFileManager::fileExists(const std::filesystem::path& path) const {
  std::error_code error;
  // A dangling link is still something there.
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

bool ContainerFileManager::createDirectory(const std::filesystem::path& path) {
  return makeDirectories(path, 0755);
}

bool ContainerFileManager::removeItem(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::remove_all(path, error) != static_cast<std::uintmax_t>(-1) && !error;
}

std::optional<std::string> ContainerFileManager::contents(const std::filesystem::path& path) const {
  return readFile(path);
}

std::unique_ptr<FileWriter> ContainerFileManager::createFile(const std::filesystem::path& path) {
  auto file = std::make_unique<AtomicFile>(path, 0644);
  if (!file->isOpen()) return nullptr;
  return file;
}

}  // namespace quorin::platform::posix
