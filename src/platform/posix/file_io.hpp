#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_manager.hpp"

namespace quorin::platform::posix {

// The whole file, or none when it cannot be read or is larger than `maxBytes`. The text has
// room for a JSON parser's padding past its end.
std::optional<std::string> readFile(const std::filesystem::path& path,
                                    std::size_t maxBytes = std::size_t{1} << 30);

enum class WriteMode { replace, createOnly };

// A file written through a temporary sibling that is flushed and then renamed over `path`
// (or linked, for createOnly), so readers see the old file or the whole new one. Dropped
// before commit(), it leaves no trace.
class AtomicFile final : public FileWriter {
 public:
  // A writer that fails every call when the temporary file cannot be made.
  AtomicFile(std::filesystem::path path, mode_t mode, WriteMode writeMode = WriteMode::replace);
  ~AtomicFile() override;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  bool append(std::string_view bytes) override;
  // False when nothing was published, also when createOnly finds the file already there.
  bool commit() override;

 private:
  void discard();

  std::filesystem::path path_;
  std::filesystem::path temporary_;
  WriteMode writeMode_;
  int fd_ = -1;
  bool failed_ = false;
};

// `bytes` through an AtomicFile; false when nothing was published.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode,
                         WriteMode writeMode = WriteMode::replace);

// Renames `from` over `to` and flushes their directory; false when the rename failed.
bool renameDurably(const std::filesystem::path& from, const std::filesystem::path& to);

// Creates the directory and its missing parents with `mode`; true when it exists afterwards.
bool makeDirectories(const std::filesystem::path& path, mode_t mode);

}  // namespace quorin::platform::posix
