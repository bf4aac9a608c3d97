#pragma once

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "formats/file_buffer.hpp"

namespace quorin::platform {

// A file being written. Nothing shows at its path until commit(), which puts the whole file
// there at once; a writer dropped uncommitted leaves the path as it was.
class FileWriter {
 public:
  virtual ~FileWriter() = default;
  virtual bool append(std::string_view bytes) = 0;
  virtual bool commit() = 0;
};

// The application's files. Safe to use from any thread; each FileWriter belongs to one
// thread at a time.
class FileManager {
 public:
  virtual ~FileManager() = default;
  // The user's Library directory; none when the platform reports none.
  virtual std::optional<std::filesystem::path> libraryDirectory() const = 0;
  // Whether anything (a file, a directory, ...) is at `path`.
  virtual bool fileExists(const std::filesystem::path& path) const = 0;
  // Creates the directory and any missing parents; true when it exists afterwards.
  virtual bool createDirectory(const std::filesystem::path& path) = 0;
  // Removes what is at `path`, with everything beneath it.
  virtual bool removeItem(const std::filesystem::path& path) = 0;
  // The bytes of the file at `path`; none when it cannot be read.
  virtual std::optional<std::string> contents(const std::filesystem::path& path) const = 0;
  // The bytes of the file at `path` into `buffer`, whose memory they reuse; false, with the
  // buffer empty, when it cannot be read.
  virtual bool readInto(const std::filesystem::path& path, formats::FileBuffer& buffer) const {
    auto bytes = contents(path);
    char* data = buffer.reserve(bytes ? bytes->size() : 0);
    if (!bytes) return false;
    std::copy(bytes->begin(), bytes->end(), data);
    buffer.resize(bytes->size());
    return true;
  }
  // The size of the file at `path` if readInto() would read it whole, so that a buffer can
  // be sized once for several files; none when that cannot be told.
  virtual std::optional<std::size_t> sizeOf(const std::filesystem::path&) const {
    return std::nullopt;
  }
  // Starts replacing the file at `path`, whose directory must exist; none when it cannot.
  virtual std::unique_ptr<FileWriter> createFile(const std::filesystem::path& path) = 0;
  // Tells the manager's record of troubles, for the host, that the file at `path` was not
  // written, when its writer has not told it why already.
  virtual void noteUnwritten(const std::filesystem::path& path) const = 0;
};

}  // namespace quorin::platform
