#include "platform/posix/files/file_io.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

namespace quorin::platform::posix {
namespace {

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::string temporaryPrefix(const std::string& name) {
  return "." + name + ".tmp-";
}

std::string temporaryName(const std::string& name) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  return temporaryPrefix(name) + std::to_string(random());
}

common::FileDescriptor openDirectory(const std::filesystem::path& directory) {
  return common::FileDescriptor(
      ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// A writer holds a lock on its temporary for as long as it lives, so a temporary nobody
// holds was left by a writer that died.
void removeAbandonedTemporaries(int directory, const std::string& name) {
  common::FileDescriptor listing(::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!listing.isOpen()) return;
  std::unique_ptr<DIR, int (*)(DIR*)> entries(::fdopendir(listing.get()), ::closedir);
  if (!entries) return;
  listing.release();
  auto prefix = temporaryPrefix(name);
  while (const dirent* entry = ::readdir(entries.get())) {
    if (std::string_view(entry->d_name).substr(0, prefix.size()) != prefix) continue;
    common::FileDescriptor candidate(
        ::openat(directory, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (candidate.isOpen() && ::flock(candidate.get(), LOCK_EX | LOCK_NB) == 0)
      ::unlinkat(directory, entry->d_name, 0);
  }
}

}  // namespace

namespace {

// The open file and its size, when `path` is a regular file of at most `maxBytes` that can
// be read. Non-blocking, so that a FIFO put where a file belongs cannot hold the open for ever.
std::optional<std::pair<common::FileDescriptor, std::size_t>> openRegularFile(
    const std::filesystem::path& path, std::size_t maxBytes, FinalLink link = FinalLink::follow) {
  int noFollow = link == FinalLink::refuse ? O_NOFOLLOW : 0;
  common::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | noFollow));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  auto size = static_cast<std::size_t>(info.st_size);
  if (size > maxBytes) return std::nullopt;
  return std::pair{std::move(fd), size};
}

// Reads a regular file of at most `maxBytes` into what `room(size, keep)` gives: a place for
// `size` bytes keeping the first `keep`. How many bytes it read; none for anything else.
template <typename Room>
std::optional<std::size_t> readRegularFile(const std::filesystem::path& path, std::size_t maxBytes,
                                           Room room, FinalLink link = FinalLink::follow) {
  auto opened = openRegularFile(path, maxBytes, link);
  if (!opened) return std::nullopt;
  const common::FileDescriptor& fd = opened->first;
  // A byte more than the file had, so that growth shows without a second pass.
  auto capacity = opened->second + 1;
  char* data = room(capacity, 0);
  std::size_t filled = 0;
  while (true) {
    if (filled == capacity) {
      if (capacity > maxBytes) return std::nullopt;
      // The file is growing as it is read; never past one byte over the limit.
      capacity = std::min(maxBytes + 1, capacity + std::max<std::size_t>(capacity / 2, 4096));
      data = room(capacity, filled);
    }
    ssize_t got = ::read(fd.get(), data + filled, capacity - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  if (filled > maxBytes) return std::nullopt;
  return filled;
}

}  // namespace

std::optional<std::string> readFile(const std::filesystem::path& path, std::size_t maxBytes,
                                    FinalLink link) {
  std::string bytes;
  auto room = [&](std::size_t size, std::size_t) {
    // Room for a parser's padding too, without growing.
    if (bytes.capacity() < size) bytes.reserve(size + 4096 + 64);
    bytes.resize(size);
    return bytes.data();
  };
  auto filled = readRegularFile(path, maxBytes, room, link);
  if (!filled) return std::nullopt;
  bytes.resize(*filled);
  return bytes;
}

// Opened as a read opens it, so that nothing is sized for a file that cannot be read.
std::optional<std::size_t> regularFileSize(const std::filesystem::path& path,
                                           std::size_t maxBytes) {
  auto opened = openRegularFile(path, maxBytes);
  if (!opened) return std::nullopt;
  return opened->second;
}

bool readFileInto(const std::filesystem::path& path, formats::FileBuffer& buffer,
                  std::size_t maxBytes) {
  buffer.reserve(0);
  auto filled = readRegularFile(path, maxBytes, [&](std::size_t size, std::size_t keep) {
    return buffer.reserve(size, keep);
  });
  if (!filled) return false;
  buffer.resize(*filled);
  return true;
}

std::string whyUnreadable(const std::filesystem::path& path, std::size_t maxBytes) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::string("cannot be read: ") + strerror(errno);
  if (!S_ISREG(info.st_mode)) return "is not a regular file";
  if (static_cast<std::size_t>(info.st_size) > maxBytes)
    return "is larger than " + std::to_string(maxBytes) + " bytes";
  if (::access(path.c_str(), R_OK) != 0) return std::string("cannot be read: ") + strerror(errno);
  return "cannot be read";
}

common::FileDescriptor openDirectoryBeneath(const std::filesystem::path& root,
                                            const std::filesystem::path& relative,
                                            std::optional<mode_t> makeMissing) {
  common::FileDescriptor directory = openDirectory(root);
  for (const auto& part : relative) {
    if (!directory.isOpen()) break;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      errno = EPERM;
      return {};
    }
    if (makeMissing && ::mkdirat(directory.get(), part.c_str(), *makeMissing) != 0 &&
        errno != EEXIST)
      return {};
    directory = common::FileDescriptor(
        ::openat(directory.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  return directory;
}

AtomicFile::AtomicFile(const std::filesystem::path& path, mode_t mode, WriteMode writeMode)
    : AtomicFile(openDirectory(path.parent_path()), path.filename().string(), mode, writeMode) {}

AtomicFile::AtomicFile(common::FileDescriptor directory, std::string name, mode_t mode,
                       WriteMode writeMode)
    : directory_(std::move(directory)), name_(std::move(name)), writeMode_(writeMode) {
  if (directory_.isOpen()) open(mode);
}

AtomicFile::~AtomicFile() {
  discard();
}

void AtomicFile::open(mode_t mode) {
  removeAbandonedTemporaries(directory_.get(), name_);
  // A sweep in another process may take a temporary in the instant before its lock: then
  // it is gone, and a new one is made.
  for (int attempt = 0; attempt < 3 && !file_.isOpen(); ++attempt) {
    temporary_ = temporaryName(name_);
    file_ = common::FileDescriptor(::openat(directory_.get(), temporary_.c_str(),
                                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                            mode));
    struct stat info {};
    if (file_.isOpen() && (::flock(file_.get(), LOCK_EX) != 0 || ::fstat(file_.get(), &info) != 0 ||
                           info.st_nlink == 0))
      file_ = common::FileDescriptor();
  }
  if (file_.isOpen() && ::fchmod(file_.get(), mode) != 0) discard();
}

void AtomicFile::discard() {
  if (!file_.isOpen()) return;
  file_.close();
  ::unlinkat(directory_.get(), temporary_.c_str(), 0);
}

// A large file's pages start for the disk while more is written, so that the sync in commit()
// waits for the last few megabytes only. A refusal just leaves it all to that sync.
bool AtomicFile::append(std::string_view bytes) {
  failed_ = failed_ || !file_.isOpen() || !writeAll(file_.get(), bytes);
  written_ += bytes.size();
  if (!failed_ && written_ - started_ >= kWritebackBytes) {
    ::sync_file_range(file_.get(), static_cast<off_t>(started_),
                      static_cast<off_t>(written_ - started_), SYNC_FILE_RANGE_WRITE);
    started_ = written_;
  }
  return !failed_;
}

bool AtomicFile::publish() {
  int directory = directory_.get();
  if (writeMode_ == WriteMode::replace)
    return ::renameat(directory, temporary_.c_str(), directory, name_.c_str()) == 0;
  bool linked = ::linkat(directory, temporary_.c_str(), directory, name_.c_str(), 0) == 0;
  ::unlinkat(directory, temporary_.c_str(), 0);
  return linked;
}

// Published before the temporary is closed, so that its lock keeps sweeps off it.
bool AtomicFile::commit() {
  if (!file_.isOpen()) return false;
  bool ok = !failed_ && ::fsync(file_.get()) == 0 && publish();
  if (!ok) {
    discard();
    return false;
  }
  file_.close();
  ::fsync(directory_.get());
  return true;
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode,
                         WriteMode writeMode) {
  AtomicFile file(path, mode, writeMode);
  return file.append(bytes) && file.commit();
}

bool renameDurably(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return false;
  common::FileDescriptor directory = openDirectory(to.parent_path());
  if (directory.isOpen()) ::fsync(directory.get());
  return true;
}

bool makeDirectories(const std::filesystem::path& path, mode_t mode) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return true;
  if (path.has_parent_path() && path.parent_path() != path &&
      !makeDirectories(path.parent_path(), mode))
    return false;
  return ::mkdir(path.c_str(), mode) == 0 ||
         (errno == EEXIST && std::filesystem::is_directory(path, error));
}

bool makeContainer(const std::filesystem::path& path, mode_t mode) {
  std::error_code error;
  return std::filesystem::is_directory(path, error) || ::mkdir(path.c_str(), mode) == 0 ||
         (errno == EEXIST && std::filesystem::is_directory(path, error));
}

// Not normalised: the system resolves "a/.." only where "a" exists, and so must this.
std::filesystem::path parentDirectory(const std::filesystem::path& path) {
  std::error_code error;
  auto absolute = std::filesystem::absolute(path, error).string();
  while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  return std::filesystem::path(absolute).parent_path();
}

std::string whyNotMade(const std::filesystem::path& path, int error) {
  auto parent = parentDirectory(path);
  std::error_code ignored;
  if (!std::filesystem::is_directory(parent, ignored))
    return "its parent directory " + parent.string() + " does not exist";
  return std::strerror(error);
}

}  // namespace quorin::platform::posix
