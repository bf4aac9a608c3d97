#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "formats/file_buffer.hpp"
#include "platform/common/file_descriptor.hpp"
#include "platform/file_manager.hpp"

namespace quorin::platform::posix {

// Whether a read follows a symbolic link that stands at the file's own name. A file the
// library made for itself (a key, a name) is read only as the regular file it made, so that a
// link planted in its place cannot hand it someone else's.
enum class FinalLink { follow, refuse };

// The whole file, or none when it cannot be read, is not a regular file (a FIFO never
// blocks the call) or is larger than `maxBytes`. The text has room for a JSON parser's
// padding past its end.
std::optional<std::string> readFile(const std::filesystem::path& path,
                                    std::size_t maxBytes = std::size_t{1} << 30,
                                    FinalLink link = FinalLink::follow);

// The same into `buffer`, reusing its memory; false, with the buffer empty, where readFile()
// gives none.
bool readFileInto(const std::filesystem::path& path, formats::FileBuffer& buffer,
                  std::size_t maxBytes = std::size_t{1} << 30);
// The size of a file the reads above could read, or none.
std::optional<std::size_t> regularFileSize(const std::filesystem::path& path,
                                           std::size_t maxBytes = std::size_t{1} << 30);

// Why readFile() found nothing at `path`, as the end of a sentence naming it: "is not a
// regular file", "cannot be read: Permission denied", ...
std::string whyUnreadable(const std::filesystem::path& path,
                          std::size_t maxBytes = std::size_t{1} << 30);

// The directory `relative` beneath `root`, reached without following a symbolic link below
// `root`, its missing parts made with `makeMissing` when given. Not open, with errno set,
// when a part is a link (ELOOP), is missing, or cannot be made or opened.
common::FileDescriptor openDirectoryBeneath(const std::filesystem::path& root,
                                            const std::filesystem::path& relative,
                                            std::optional<mode_t> makeMissing);

enum class WriteMode { replace, createOnly };

// A file written through a temporary sibling that is flushed and then renamed over `path`
// (or linked, for createOnly), so readers see the old file or the whole new one. Dropped
// before commit(), it leaves no trace; a temporary left by a writer that died is removed by
// the next writer of the same file.
class AtomicFile final : public FileWriter {
 public:
  // A writer that fails every call when the temporary file cannot be made.
  AtomicFile(const std::filesystem::path& path, mode_t mode,
             WriteMode writeMode = WriteMode::replace);
  // The file `name` in the open `directory`, which it keeps.
  AtomicFile(common::FileDescriptor directory, std::string name, mode_t mode,
             WriteMode writeMode = WriteMode::replace);
  ~AtomicFile() override;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool isOpen() const { return file_.isOpen(); }
  bool append(std::string_view bytes) override;
  // False when nothing was published, also when createOnly finds the file already there.
  bool commit() override;

 private:
  void open(mode_t mode);
  void discard();
  bool publish();

  common::FileDescriptor directory_;
  std::string name_;
  std::string temporary_;
  WriteMode writeMode_;
  static constexpr std::size_t kWritebackBytes = 8 << 20;

  common::FileDescriptor file_;
  bool failed_ = false;
  std::size_t written_ = 0;
  std::size_t started_ = 0;  // written bytes already handed to the disk
};

// `bytes` through an AtomicFile; false when nothing was published.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode,
                         WriteMode writeMode = WriteMode::replace);

// Renames `from` over `to` and flushes their directory; false when the rename failed.
bool renameDurably(const std::filesystem::path& from, const std::filesystem::path& to);

// Creates the directory and its missing parents with `mode`; true when it exists afterwards.
bool makeDirectories(const std::filesystem::path& path, mode_t mode);

// Creates a device's container (or an account's directory) with `mode` only when its parent
// directory exists, so that a mistyped path fails instead of becoming a new device; true when
// it exists afterwards.
bool makeContainer(const std::filesystem::path& path, mode_t mode);

// The directory that holds `path`, absolute; a trailing slash names the same directory as none.
std::filesystem::path parentDirectory(const std::filesystem::path& path);

// Why makeContainer() failed with `error` (an errno): "its parent directory P does not exist",
// or the system's reason.
std::string whyNotMade(const std::filesystem::path& path, int error);

}  // namespace quorin::platform::posix
