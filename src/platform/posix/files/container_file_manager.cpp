#include "platform/posix/files/container_file_manager.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/posix/files/file_io.hpp"

namespace quorin::platform::posix {
namespace {

constexpr mode_t kDirectoryMode = 0700;
constexpr mode_t kFileMode = 0600;

std::string reason(int error) {
  return error == ELOOP || error == ENOTDIR ? "a symbolic link or a file stands in its path"
                                            : std::strerror(error);
}

// Reports its own failures, since its writer only learns that a call failed.
class ReportedFile final : public FileWriter {
 public:
  ReportedFile(std::unique_ptr<AtomicFile> file, std::filesystem::path path,
               const ContainerFileManager& manager)
      : file_(std::move(file)), path_(std::move(path)), manager_(manager) {}

  bool append(std::string_view bytes) override {
    errno = 0;
    return file_->append(bytes) || report();
  }
  bool commit() override {
    errno = 0;
    return file_->commit() || report();
  }

 private:
  bool report() {
    if (!reported_)
      manager_.noteUnwritten(path_, path_.string() + " was not written" +
                                        (errno ? std::string(": ") + std::strerror(errno) : ""));
    reported_ = true;
    return false;
  }

  std::unique_ptr<AtomicFile> file_;
  std::filesystem::path path_;
  const ContainerFileManager& manager_;
  bool reported_ = false;
};

}  // namespace

bool ContainerFileManager::fileExists(const std::filesystem::path& path) const {
  std::error_code error;
  // A dangling link is still something there.
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

// One found looser, as an earlier release made the migration's output, is narrowed.
bool ContainerFileManager::createDirectory(const std::filesystem::path& path) {
  common::FileDescriptor made;
  if (makeContainer(container_, kDirectoryMode))
    made = openDirectoryBeneath(container_, path.lexically_relative(container_), kDirectoryMode);
  struct stat info {};
  if (made.isOpen() && ::fstat(made.get(), &info) == 0 &&
      ((info.st_mode & 077) == 0 || ::fchmod(made.get(), kDirectoryMode) == 0))
    return true;
  noteTrouble("cannot create " + path.string() + ": " + reason(errno));
  return false;
}

bool ContainerFileManager::removeItem(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::remove_all(path, error) != static_cast<std::uintmax_t>(-1) && !error;
}

std::optional<std::string> ContainerFileManager::contents(const std::filesystem::path& path) const {
  auto bytes = readFile(path);
  if (!bytes) noteUnreadable(path);
  return bytes;
}

bool ContainerFileManager::readInto(const std::filesystem::path& path,
                                    formats::FileBuffer& buffer) const {
  bool read = readFileInto(path, buffer);
  if (!read) noteUnreadable(path);
  return read;
}

std::optional<std::size_t> ContainerFileManager::sizeOf(const std::filesystem::path& path) const {
  return regularFileSize(path);
}

// A missing file is no trouble: the legacy SDK may never have written it.
void ContainerFileManager::noteUnreadable(const std::filesystem::path& path) const {
  std::error_code error;
  if (std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found)
    noteTrouble(path.string() + " " + whyUnreadable(path));
}

std::unique_ptr<FileWriter> ContainerFileManager::createFile(const std::filesystem::path& path) {
  auto directory =
      openDirectoryBeneath(container_, path.parent_path().lexically_relative(container_), {});
  auto file =
      std::make_unique<AtomicFile>(std::move(directory), path.filename().string(), kFileMode);
  if (!file->isOpen()) {
    noteUnwritten(path, "cannot write " + path.string() + ": " + reason(errno));
    return nullptr;
  }
  return std::make_unique<ReportedFile>(std::move(file), path, *this);
}

std::vector<std::string> ContainerFileManager::troubles() const {
  std::lock_guard lock(troublesMutex_);
  return troubles_;
}

// Each trouble once: a long-running host that reads a broken file again and again keeps one
// line for it, not one a read.
void ContainerFileManager::noteTrouble(std::string trouble) const {
  std::lock_guard lock(troublesMutex_);
  addTrouble(std::move(trouble));
}

void ContainerFileManager::addTrouble(std::string trouble) const {
  if (std::find(troubles_.begin(), troubles_.end(), trouble) == troubles_.end())
    troubles_.push_back(std::move(trouble));
}

void ContainerFileManager::noteUnwritten(const std::filesystem::path& path,
                                         std::string trouble) const {
  std::lock_guard lock(troublesMutex_);
  unwritten_.insert(path);
  addTrouble(std::move(trouble));
}

// The writer's own words, with why, stand for the file: the line without them is not added.
void ContainerFileManager::noteUnwritten(const std::filesystem::path& path) const {
  std::lock_guard lock(troublesMutex_);
  if (unwritten_.insert(path).second) addTrouble(path.string() + " was not written");
}

}  // namespace quorin::platform::posix
