// A directory cloud account that another process holds locked: a device closing does not
// wait on it, and keeps what it could not push for the next run.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/linux/cloud_account_location.hpp"
#include "platform/posix/cloud/cloud_journal.hpp"
#include "support/account_lock_holder.hpp"
#include "support/cloud_device.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

using namespace std::chrono_literals;

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
      std::make_shared<CloudAccountSelection>(directory.string(), linux::cloudAccountKinds());
  common::LocalNotificationCenter center;
};

TEST_F(DirectoryCloudBusyTest, AStoreClosesAtOnceWhileAnotherProcessHoldsTheAccount) {
  // The lock holder is forked before this process has threads, so that it inherits no
  // lock a thread held; ctest runs each test in a process of its own, without any.
  if (std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}) != 1)
    GTEST_SKIP() << "needs a process of its own, without threads, as ctest runs it";
  testing::AccountLockHolder other(directory);
  ASSERT_TRUE(other.held());

  auto closing = std::chrono::steady_clock::duration();
  {
    auto phone = device("phone");
    phone->store.setObject(formats::Value("kept"), "k");
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
