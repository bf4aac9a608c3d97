#pragma once

#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/file_manager.hpp"

namespace quorin::platform::posix {

// The files of a container; its Library directory is `<container>/Library`. What it makes
// is the user's alone (directories 0700, files 0600), as is a directory it is asked to make
// and finds there looser, and it never makes or writes anything through a symbolic link
// inside the container.
class ContainerFileManager final : public FileManager {
 public:
  explicit ContainerFileManager(std::filesystem::path container)
      : container_(std::move(container)), library_(container_ / "Library") {}

  std::optional<std::filesystem::path> libraryDirectory() const override { return library_; }
  bool fileExists(const std::filesystem::path& path) const override;
  bool createDirectory(const std::filesystem::path& path) override;
  bool removeItem(const std::filesystem::path& path) override;
  std::optional<std::string> contents(const std::filesystem::path& path) const override;
  bool readInto(const std::filesystem::path& path, formats::FileBuffer& buffer) const override;
  std::optional<std::size_t> sizeOf(const std::filesystem::path& path) const override;
  std::unique_ptr<FileWriter> createFile(const std::filesystem::path& path) override;

  // What went wrong so far, a sentence each: files that are there but could not be read,
  // and directories and files that could not be written. A host checks it before it erases
  // what depended on those reads and writes.
  std::vector<std::string> troubles() const;
  void noteUnwritten(const std::filesystem::path& path) const override;
  // Called by a file of this manager that could not be written, with why.
  void noteUnwritten(const std::filesystem::path& path, std::string trouble) const;

 private:
  void noteUnreadable(const std::filesystem::path& path) const;
  void noteTrouble(std::string trouble) const;
  void addTrouble(std::string trouble) const;

  std::filesystem::path container_;
  std::filesystem::path library_;
  mutable std::mutex troublesMutex_;
  mutable std::vector<std::string> troubles_;
  mutable std::set<std::filesystem::path> unwritten_;
};

}  // namespace quorin::platform::posix
