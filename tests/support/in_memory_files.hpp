#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/file_manager.hpp"

namespace quorin::testing {

// A file tree in memory under "/container/Library". A test puts files in directly and may
// make reads, directory creation or the writes of a file name fail.
class InMemoryFiles final : public platform::FileManager {
 public:
  std::optional<std::filesystem::path> libraryDirectory() const override { return library; }
  bool fileExists(const std::filesystem::path& path) const override;
  bool createDirectory(const std::filesystem::path& path) override;
  bool removeItem(const std::filesystem::path& path) override;
  std::optional<std::string> contents(const std::filesystem::path& path) const override;
  std::unique_ptr<platform::FileWriter> createFile(const std::filesystem::path& path) override;
  // Its writers tell nothing themselves, so that a test sees what their caller told.
  void noteUnwritten(const std::filesystem::path& path) const override;

  // Puts a file under the Library directory, making its parents.
  void put(const std::filesystem::path& relative, std::string bytes);
  // A file under the Library directory, or none (also for a directory).
  std::optional<std::string> read(const std::filesystem::path& relative) const;
  bool isDirectory(const std::filesystem::path& relative) const;
  // Every path under the Library directory, directories included.
  std::set<std::string> paths() const;
  // The paths noted as not written.
  std::set<std::string> unwritten() const;

  std::optional<std::filesystem::path> library = "/container/Library";
  std::set<std::string> unreadable;     // file names whose reads fail
  std::set<std::string> failingWrites;  // file names whose writes fail part-way
  bool refuseDirectories = false;

 private:
  friend class InMemoryFileWriter;
  struct Node {
    bool directory = false;
    std::string bytes;
  };
  static std::string key(const std::filesystem::path& path);
  bool makeDirectories(const std::string& path);
  bool store(const std::string& path, std::string bytes);

  mutable std::mutex mutex_;
  std::map<std::string, Node> nodes_;
  mutable std::set<std::string> unwritten_;
};

}  // namespace quorin::testing
