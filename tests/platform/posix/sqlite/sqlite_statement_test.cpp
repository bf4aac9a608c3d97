#include "platform/posix/sqlite/sqlite_statement.hpp"
#include "platform/posix/sqlite/private_database.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

struct Closer {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Connection = std::unique_ptr<sqlite3, Closer>;

Connection open(const DatabaseLocation& location) {
  sqlite3* db = nullptr;
  std::string problem;
  EXPECT_EQ(openPrivateDatabase(location, db, problem), SQLITE_OK) << problem;
  return Connection(db);
}

// Whether another process sees the write lock held. Asked without SQLite: a forked child
// shares SQLite's record of this process's locks.
bool writeLockIsHeld(const std::filesystem::path& path) {
  pid_t child = ::fork();
  if (child == 0) {
    int fd = ::open(path.c_str(), O_RDONLY);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0x40000001;  // SQLite's reserved byte, locked by the writer
    lock.l_len = 1;
    ::_exit(fd >= 0 && ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(SqliteDatabaseTest, OpeningTheFileAgainKeepsTheWriteLockOfAnotherConnection) {
  testing::TemporaryDirectory directory;
  DatabaseLocation location(directory.path(), "cloud.db");
  auto writer = open(location);
  ASSERT_EQ(sqlite3_exec(writer.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_TRUE(writeLockIsHeld(location.file()));

  auto second = open(location);
  EXPECT_TRUE(writeLockIsHeld(location.file()))
      << "the writer's lock went when this process opened the file again";
  ASSERT_EQ(sqlite3_exec(writer.get(), "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_FALSE(writeLockIsHeld(location.file()));
}

TEST(SqliteDatabaseTest, ANewDatabaseItsLogAndItsDirectoriesAreTheUsersAlone) {
  testing::TemporaryDirectory directory;
  DatabaseLocation location(directory.path() / "container", "Library/Keychains/keychain.db");
  auto db = open(location);
  ASSERT_EQ(sqlite3_exec(db.get(), "PRAGMA journal_mode=WAL; CREATE TABLE t (x)", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  using std::filesystem::perms;
  auto modeOf = [](const std::filesystem::path& path) {
    return std::filesystem::status(path).permissions() & perms::all;
  };
  auto file = location.file().string();
  for (const auto& path : {file, file + "-wal", file + "-shm"})
    EXPECT_EQ(modeOf(path), perms::owner_read | perms::owner_write) << path;
  for (const auto& path : {location.root / "Library", location.root / "Library/Keychains"})
    EXPECT_EQ(modeOf(path), perms::owner_all) << path;
}

TEST(SqliteDatabaseTest, AnOpenNarrowsTheDatabaseItsLogsAndItsDirectoryMadeLooserEarlier) {
  testing::TemporaryDirectory directory;
  DatabaseLocation location(directory.path() / "container", "Library/Keychains/keychain.db");
  // Left open, as by a process that has not closed yet, so that the logs stay.
  auto earlier = open(location);
  ASSERT_EQ(sqlite3_exec(earlier.get(), "PRAGMA journal_mode=WAL; CREATE TABLE t (x)", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  using std::filesystem::perms;
  auto file = location.file().string();
  auto keychains = location.root / "Library/Keychains";
  for (const auto& path : {file, file + "-wal", file + "-shm"})
    std::filesystem::permissions(
        path, perms::owner_read | perms::owner_write | perms::group_read | perms::others_read);
  std::filesystem::permissions(keychains, perms::owner_all | perms::group_all | perms::others_all);

  auto db = open(location);
  auto modeOf = [](const std::filesystem::path& path) {
    return std::filesystem::status(path).permissions() & perms::all;
  };
  for (const auto& path : {file, file + "-wal", file + "-shm"})
    EXPECT_EQ(modeOf(path), perms::owner_read | perms::owner_write) << path;
  EXPECT_EQ(modeOf(keychains), perms::owner_all);
  EXPECT_EQ(modeOf(location.root / "Library"), perms::owner_all) << "left as it was made";
}

TEST(SqliteDatabaseTest, AValuePastTheConnectionsLengthLimitIsRefusedNotTruncated) {
  testing::TemporaryDirectory directory;
  auto db = open(DatabaseLocation(directory.path(), "values.db"));
  ASSERT_EQ(sqlite3_exec(db.get(), "CREATE TABLE t (x)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_limit(db.get(), SQLITE_LIMIT_LENGTH, 100);
  SqliteStatement insert(db.get(), "INSERT INTO t VALUES (?1)");
  auto stepWith = [&](auto bind) {
    bind();
    SqliteStatement::Run run(insert);
    return run.step();
  };
  EXPECT_EQ(stepWith([&] { insert.bind(1, formats::Value(std::string(101, 'x'))); }),
            SQLITE_TOOBIG);
  EXPECT_EQ(stepWith([&] { insert.bind(1, formats::Value(formats::Data(101, 'x'))); }),
            SQLITE_TOOBIG);
  EXPECT_EQ(stepWith([&] { sqliteBindBytes(insert, 1, std::string(101, 'x')); }), SQLITE_TOOBIG);
  EXPECT_EQ(stepWith([&] { insert.bind(1, formats::Value(formats::Data(50, 'x'))); }), SQLITE_DONE)
      << "a refused value does not stay with the statement";
  int rows = -1;
  ASSERT_EQ(sqliteInteger(db.get(), "SELECT count(*) FROM t WHERE length(x) = 50", rows),
            SQLITE_OK);
  EXPECT_EQ(rows, 1);
  ASSERT_EQ(sqliteInteger(db.get(), "SELECT count(*) FROM t", rows), SQLITE_OK);
  EXPECT_EQ(rows, 1) << "nothing stood in for a refused value";
}

TEST(SqliteDatabaseTest, ANameThatLooksLikeAUriIsAFileWhereItSays) {
  testing::TemporaryDirectory directory;
  auto previous = std::filesystem::current_path();
  std::filesystem::current_path(directory.path());
  auto relative = open(DatabaseLocation("file:relative.db?mode=memory"));
  std::filesystem::current_path(previous);
  auto below = open(DatabaseLocation(directory.path(), "file:below.db?mode=memory"));
  for (auto* db : {relative.get(), below.get()}) {
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(sqlite3_exec(db, "CREATE TABLE t (x)", nullptr, nullptr, nullptr), SQLITE_OK);
  }
  EXPECT_TRUE(std::filesystem::exists(directory.path() / "file:relative.db?mode=memory"));
  EXPECT_TRUE(std::filesystem::exists(directory.path() / "file:below.db?mode=memory"));
}

}  // namespace
}  // namespace quorin::platform::posix
