#include "support/account_lock_holder.hpp"

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <utility>

#include "platform/posix/cloud/cloud_account_database.hpp"

namespace quorin::testing {
namespace {

using platform::posix::CloudAccountDatabase;

// Run in the child: takes the account's write lock, says so, and keeps it until the parent
// closes its end of `release`.
int holdWriteLock(const std::filesystem::path& account, int ready, int release) {
  if (CloudAccountDatabase(account).problem()) return 1;  // the schema, made before locking
  sqlite3* db = nullptr;
  auto path = account / CloudAccountDatabase::fileName;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
    return 2;
  if (::write(ready, "x", 1) != 1) return 3;
  char ignored;
  while (::read(release, &ignored, 1) > 0) {
  }
  sqlite3_close(db);
  return 0;
}

}  // namespace

AccountLockHolder::AccountLockHolder(const std::filesystem::path& account) {
  int ready[2], release[2];
  if (::pipe(ready) != 0 || ::pipe(release) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    ::_exit(holdWriteLock(account, ready[1], release[0]));
  }
  ::close(ready[1]);
  ::close(release[0]);
  release_ = release[1];
  char signal;
  held_ = pid_ > 0 && ::read(ready[0], &signal, 1) == 1;
  ::close(ready[0]);
}

bool AccountLockHolder::release() {
  if (pid_ <= 0) return false;
  ::close(release_);
  int status = 0;
  bool waited = ::waitpid(std::exchange(pid_, -1), &status, 0) > 0;
  return waited && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace quorin::testing
