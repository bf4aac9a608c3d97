#include "platform/posix/sqlite/private_database.hpp"

#include <sqlite3.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/posix/files/file_io.hpp"

namespace quorin::platform::posix {

namespace {

// The database and the logs SQLite keeps beside it.
constexpr std::array<const char*, 4> kDatabaseFiles{"", "-wal", "-shm", "-journal"};

std::string linkProblem(const std::filesystem::path& path) {
  return path.string() + " is a symbolic link; no database is opened through it";
}

bool isLink(const std::filesystem::path& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// By path: closing a descriptor of the database would drop every lock this process holds on
// it. Whatever is missing has nothing to narrow.
bool makePrivate(const std::filesystem::path& path, mode_t mode, const std::filesystem::path& shown,
                 std::string& problem) {
  struct stat info;
  bool found = ::lstat(path.c_str(), &info) == 0;
  if (!found && errno == ENOENT) return true;
  if ((found && (info.st_mode & 077) == 0) || ::chmod(path.c_str(), mode) == 0) return true;
  problem = "cannot make " + shown.string() + " private: " + std::strerror(errno);
  return false;
}

// mkdir never follows a link, and whatever is found in the way must be a real directory.
// The directory that holds the database is its own, so one made looser earlier is narrowed.
bool makeDirectoriesBelow(const std::filesystem::path& root, const DatabaseLocation& location,
                          std::string& problem) {
  auto path = root;
  auto shown = location.root;
  for (const auto& part : location.below.parent_path()) {
    path /= part;
    shown /= part;
    struct stat info;
    bool made = ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
    if (made && ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
    problem =
        made && S_ISLNK(info.st_mode) ? linkProblem(shown) : "cannot create " + shown.string();
    return false;
  }
  return path == root || makePrivate(path, 0700, shown, problem);
}

// A new file has the mode of the process's umask, and SQLite gives its logs the file's mode
// when it makes them, so the file is narrowed before any read can make them; logs left by a
// process that did not close keep their own mode, and are narrowed too.
bool makeFilesPrivate(const std::filesystem::path& path, const std::filesystem::path& shown,
                      std::string& problem) {
  for (const char* suffix : kDatabaseFiles) {
    if (!makePrivate(path.string() + suffix, 0600, shown.string() + suffix, problem)) return false;
  }
  return true;
}

}  // namespace

// SQLite creates the file itself: opening and closing it here would drop the locks that
// other connections of this process hold on it. SQLite refuses a link anywhere in the path
// it is given, so the host's directory is given resolved.
int openPrivateDatabase(const DatabaseLocation& location, sqlite3*& db, std::string& problem) {
  bool rootExists = location.makesRootParents ? makeDirectories(location.root, 0700)
                                              : makeContainer(location.root, 0700);
  int made = errno;
  std::error_code error;
  auto root =
      rootExists ? std::filesystem::canonical(location.root, error) : std::filesystem::path();
  if (root.empty()) {
    int why = rootExists ? error.value() : made;
    problem = "cannot create " + location.root.string() + ": " +
              (location.makesRootParents ? std::strerror(why) : whyNotMade(location.root, why));
    return SQLITE_CANTOPEN;
  }
  if (!makeDirectoriesBelow(root, location, problem)) return SQLITE_CANTOPEN;
  auto path = root / location.below;
  for (const char* suffix : kDatabaseFiles) {
    if (!isLink(path.string() + suffix)) continue;
    problem = linkProblem(location.file().string() + suffix);
    return SQLITE_CANTOPEN;
  }
  // Always absolute: this SQLite reads a name that starts with "file:" as a URI, whatever the
  // flags say.
  int code =
      sqlite3_open_v2(path.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
  if (code == SQLITE_CANTOPEN_SYMLINK) {
    problem = linkProblem(location.file());
    return code;
  }
  if (code == SQLITE_OK && !makeFilesPrivate(path, location.file(), problem))
    return SQLITE_CANTOPEN;
  if (code == SQLITE_OK) code = sqlite3_busy_timeout(db, 5000);
  if (code == SQLITE_OK)
    code = sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  if (code != SQLITE_OK)
    problem = location.file().string() + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
  return code;
}

}  // namespace quorin::platform::posix
