#pragma once

#include <filesystem>

#include "platform/file_manager.hpp"

namespace quorin::platform::posix {

// The files of a container; its Library directory is `<container>/Library`.
class ContainerFileManager final : public FileManager {
 public:
  explicit ContainerFileManager(std::filesystem::path container)
      : library_(std::move(container) / "Library") {}

  std::optional<std::filesystem::path> libraryDirectory() const override { return library_; }
  bool fileExists(const std::filesystem::path& path) const override;
  bool createDirectory(const std::filesystem::path& path) override;
  bool removeItem(const std::filesystem::path& path) override;
  std::optional<std::string> contents(const std::filesystem::path& path) const override;
  std::unique_ptr<FileWriter> createFile(const std::filesystem::path& path) override;

 private:
  std::filesystem::path library_;
};

}  // namespace quorin::platform::posix
