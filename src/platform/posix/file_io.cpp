#include "platform/posix/file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <utility>

namespace quorin::platform::posix {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::filesystem::path temporarySibling(const std::filesystem::path& path) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  auto name = "." + path.filename().string() + ".tmp-" + std::to_string(random());
  return path.parent_path() / name;
}

void syncDirectory(const std::filesystem::path& directory) {
  FileDescriptor fd(::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY));
  if (fd.get() >= 0) ::fsync(fd.get());
}

bool publish(const std::filesystem::path& temporary, const std::filesystem::path& path,
             WriteMode writeMode) {
  if (writeMode == WriteMode::replace) return ::rename(temporary.c_str(), path.c_str()) == 0;
  bool linked = ::link(temporary.c_str(), path.c_str()) == 0;
  ::unlink(temporary.c_str());
  return linked;
}

}  // namespace

std::optional<std::string> readFile(const std::filesystem::path& path, std::size_t maxBytes) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  if (static_cast<std::size_t>(info.st_size) > maxBytes) return std::nullopt;
  // Room to find the end of the file, and for a parser's padding, without growing.
  constexpr std::size_t kSlack = 4096 + 64;
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(info.st_size) + kSlack);
  bytes.resize(static_cast<std::size_t>(info.st_size));
  std::size_t filled = 0;
  while (true) {
    if (filled == bytes.size()) bytes.resize(filled + 4096);  // the file may have grown
    ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
    if (filled > maxBytes) return std::nullopt;
  }
  bytes.resize(filled);
  return bytes;
}

AtomicFile::AtomicFile(std::filesystem::path path, mode_t mode, WriteMode writeMode)
    : path_(std::move(path)), temporary_(temporarySibling(path_)), writeMode_(writeMode) {
  fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd_ >= 0 && ::fchmod(fd_, mode) != 0) discard();
}

AtomicFile::~AtomicFile() {
  discard();
}

void AtomicFile::discard() {
  if (fd_ < 0) return;
  ::close(std::exchange(fd_, -1));
  ::unlink(temporary_.c_str());
}

bool AtomicFile::append(std::string_view bytes) {
  failed_ = failed_ || fd_ < 0 || !writeAll(fd_, bytes);
  return !failed_;
}

bool AtomicFile::commit() {
  if (fd_ < 0) return false;
  bool ok = !failed_ && ::fsync(fd_) == 0;
  ok = ::close(std::exchange(fd_, -1)) == 0 && ok;
  if (!ok || !publish(temporary_, path_, writeMode_)) {
    ::unlink(temporary_.c_str());
    return false;
  }
  syncDirectory(path_.parent_path());
  return true;
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode,
                         WriteMode writeMode) {
  AtomicFile file(path, mode, writeMode);
  return file.append(bytes) && file.commit();
}

bool renameDurably(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return false;
  syncDirectory(to.parent_path());
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

}  // namespace quorin::platform::posix
