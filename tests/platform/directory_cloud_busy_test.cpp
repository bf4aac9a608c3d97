// A directory cloud account that another process holds locked: a device closing does not
// wait on it, and keeps what it could not push for the next run.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "platform/linux/cloud_account_location.hpp"
#include "platform/posix/cloud/cloud_account_database.hpp"
#include "platform/posix/cloud/cloud_journal.hpp"
#include "support/cloud_device.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

using namespace std::chrono_literals;

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

// Another process holding the account database's write lock, as a device mid-write does.
class AccountLockHolder {
 public:
  explicit AccountLockHolder(const std::filesystem::path& account) {
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
  ~AccountLockHolder() { release(); }
  AccountLockHolder(const AccountLockHolder&) = delete;
  AccountLockHolder& operator=(const AccountLockHolder&) = delete;

  bool held() const { return held_; }
  // True when the other process let go and ended cleanly.
  bool release() {
    if (pid_ <= 0) return false;
    ::close(release_);
    int status = 0;
    bool waited = ::waitpid(std::exchange(pid_, -1), &status, 0) > 0;
    return waited && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool held_ = false;
};

// The keys of the writes a device's journals keep for a later push.
std::vector<std::string> journaledKeys(const std::filesystem::path& journals) {
  std::vector<std::string> keys;
  for (const auto& entry : std::filesystem::directory_iterator(journals)) {
    if (entry.path().extension() != ".db") continue;
    CloudJournal journal(entry.path());
    CloudJournal::Contents kept;
    if (!journal.load(kept)) continue;
    for (const auto& write : kept.pending) keys.push_back(write.key);
  }
  return keys;
}

class DirectoryCloudBusyTest : public ::testing::Test {
 protected:
  std::unique_ptr<testing::CloudDevice> device(const std::string& name) {
    return std::make_unique<testing::CloudDevice>(account, root.path() / name, center);
  }

  testing::TemporaryDirectory root;
  std::filesystem::path directory = root.path() / "account";
  std::shared_ptr<CloudAccountSelection> account =
      std::make_shared<CloudAccountSelection>(directory.string(), cloudAccountKinds());
  LocalNotificationCenter center;
};

TEST_F(DirectoryCloudBusyTest, AStoreClosesAtOnceWhileAnotherProcessHoldsTheAccount) {
  // The lock holder is forked before this process has threads, so that it inherits no
  // lock a thread held; ctest runs each test in a process of its own, without any.
  if (std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}) != 1)
    GTEST_SKIP() << "needs a process of its own, without threads, as ctest runs it";
  AccountLockHolder other(directory);
  ASSERT_TRUE(other.held());

  auto closing = std::chrono::steady_clock::duration();
  {
    auto phone = device("phone");
    phone->store.setObject(Value("kept"), "k");
    phone->store.synchronize();
    auto started = std::chrono::steady_clock::now();
    phone.reset();
    closing = std::chrono::steady_clock::now() - started;
  }
  // A generous bound, not a latency claim: waiting on the lock took seconds.
  EXPECT_LT(closing, 3s);
  EXPECT_EQ(journaledKeys(root.path() / "phone"), std::vector<std::string>{"k"});

  ASSERT_TRUE(other.release());
  auto phone = device("phone");
  ASSERT_TRUE(phone->store.exchange());
  EXPECT_EQ(phone->store.status().pendingWrites, 0u);
  auto tablet = device("tablet");
  ASSERT_TRUE(tablet->store.exchange());
  EXPECT_EQ(tablet->text("k"), "kept");
}

}  // namespace
}  // namespace quorin::platform::posix
