// What `quorin cloud` reports is what happened: a write the account or the device could not
// take is never an "ok", and a refusal that lasts is an error, not an outage.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "cli/cli_run.hpp"
#include "support/account_lock_holder.hpp"
#include "support/redis_server.hpp"
#include "support/temporary_directory.hpp"

namespace {

using quorin::testing::contains;
using quorin::testing::quorin;
using quorin::testing::run;
using quorin::testing::TemporaryDirectory;

std::vector<std::filesystem::path> journals(const std::filesystem::path& container) {
  std::vector<std::filesystem::path> found;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(container / "Library" / "Cloud", error)) {
    auto name = entry.path().filename().string();
    if (name.starts_with("account-") && name.ends_with(".db")) found.push_back(entry.path());
  }
  return found;
}

// Runs `script` in a mount namespace of its own, whose mounts go with it.
quorin::testing::Run inMountNamespace(const std::string& script) {
  return run("unshare -m sh -c \"" + script + "\" 2>&1");
}

class CloudOutcomeMountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TemporaryDirectory probe;
    bool mounts = ::geteuid() == 0 && inMountNamespace("mount -t tmpfs -o size=1m tmpfs '" +
                                                       probe.path().string() + "'")
                                              .status == 0;
    if (mounts) return;
    if (std::getenv("QRN_REQUIRE_MOUNTS")) FAIL() << "mounts are refused here";
    GTEST_SKIP() << "needs root and a mount namespace of its own to make a read-only or full "
                    "file system";
  }
};

// Each step prints its exit status after its output, so that the steps of one namespace can
// be told apart.
std::string step(const std::string& command) {
  return command + " 2>&1; echo exit=\\$?; ";
}

TEST_F(CloudOutcomeMountTest, AWriteAReadOnlyAccountDirectoryCannotTakeIsAnErrorAndWaits) {
  TemporaryDirectory root;
  auto account = root.path() / "account", spare = root.path() / "spare";
  std::filesystem::create_directory(spare);
  std::filesystem::create_directory(root.path() / "tablet");  // not announced as a new device
  ASSERT_EQ(run(quorin(root, "phone") + "cloud set k first").status, 0);
  // The database stays writable; the directory, where SQLite needs its journal, does not.
  auto result = inMountNamespace(
      "mount --bind '" + account.string() + "' '" + spare.string() + "' && mount --bind '" +
      account.string() + "' '" + account.string() + "' && mount -o remount,bind,ro '" +
      account.string() + "' && mount --bind '" + (spare / "cloud.db").string() + "' '" +
      (account / "cloud.db").string() + "' && " +
      step(quorin(root, "phone") + "cloud set k second") +
      step(quorin(root, "phone") + "cloud status") +
      step(quorin(root, "tablet") + "cloud get k --timeout 0"));
  auto& output = result.output;
  EXPECT_TRUE(contains(output, "kept on this device only, the cloud account is unusable: " +
                                   (account / "cloud.db").string()))
      << output;
  EXPECT_TRUE(contains(output, "\nexit=2\nbackend:")) << output;
  EXPECT_TRUE(contains(output, "connection: unusable: ")) << output;
  EXPECT_TRUE(contains(output, "pendingWrites: 1\n")) << output;
  EXPECT_TRUE(contains(output, "\nexit=2\nfirst\nexit=0\n")) << output;

  ASSERT_EQ(run(quorin(root, "phone") + "cloud status").status, 0) << "the write is pushed later";
  EXPECT_EQ(run(quorin(root, "tablet") + "cloud get k --timeout 0").output, "second\n");
}

TEST_F(CloudOutcomeMountTest, AFullDiskUnderTheAccountOrTheJournalIsAnError) {
  TemporaryDirectory root;
  auto disk = root.path() / "disk";
  std::filesystem::create_directory(disk);
  auto mount = "mount -t tmpfs -o size=2m tmpfs '" + disk.string() + "' && ";
  auto fill = "cat /dev/zero > '" + (disk / "fill").string() + "' 2>/dev/null; ";
  auto onDisk = (disk / "account").string();
  auto value = std::string(3000, 'v');

  auto account =
      inMountNamespace(mount + step(quorin(root, "phone", onDisk) + "cloud set k first") + fill +
                       step(quorin(root, "phone", onDisk) + "cloud set big " + value) +
                       step(quorin(root, "phone", onDisk) + "cloud status") +
                       step(quorin(root, "tablet", onDisk) + "cloud get big --timeout 0"));
  EXPECT_TRUE(contains(account.output,
                       "exit=0\nquorin: kept on this device only, the cloud "
                       "account is unusable: "))
      << account.output;
  EXPECT_TRUE(contains(account.output, "database or disk is full\nexit=2\n")) << account.output;
  EXPECT_TRUE(contains(account.output, "pendingWrites: 1\n")) << account.output;
  EXPECT_TRUE(contains(account.output, "no value for 'big'")) << account.output;

  // The device's own journal is on the full disk: the write is not made at all.
  auto shared = (root.path() / "account").string();
  auto device = quorin::testing::quorinOn(disk / "phone", shared);
  auto journal = inMountNamespace(
      mount + step(device + "cloud set k first") + fill + step(device + "cloud set big " + value) +
      step(quorin(root, "tablet", shared) + "cloud get big --timeout 0"));
  EXPECT_TRUE(contains(journal.output, "exit=0\nquorin: not saved: ")) << journal.output;
  EXPECT_TRUE(contains(journal.output, "\nexit=2\n")) << journal.output;
  EXPECT_TRUE(contains(journal.output, "no value for 'big' in the cloud account\nexit=1\n"))
      << journal.output;
}

TEST(CloudOutcomeTest, AWriteADamagedJournalCannotKeepIsNeitherSavedNorPushed) {
  TemporaryDirectory root;
  ASSERT_EQ(run(quorin(root, "phone") + "cloud set k first").status, 0);
  auto found = journals(root.path() / "phone");
  ASSERT_EQ(found.size(), 1u);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(found[0].c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db,
                         "DROP TABLE seen; CREATE TABLE seen (key TEXT PRIMARY KEY, value BLOB) "
                         "WITHOUT ROWID; INSERT INTO seen VALUES ('k', NULL)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);

  auto set = run(quorin(root, "phone") + "cloud set k second 2>&1");
  EXPECT_EQ(set.status, 2);
  EXPECT_TRUE(contains(set.output, "quorin: not saved: ")) << set.output;
  EXPECT_TRUE(contains(set.output, "is damaged")) << set.output;
  EXPECT_EQ(run(quorin(root, "tablet") + "cloud get k --timeout 0").output, "first\n");
}

TEST(CloudOutcomeTest, AValueThatIsNotUtf8IsRefused) {
  TemporaryDirectory root;
  std::filesystem::create_directory(root.path() / "phone");  // not announced as a new device
  auto set = run(quorin(root, "phone") + "--json cloud set k \"$(printf 'a\\377b')\" 2>&1");
  EXPECT_EQ(set.status, 2);
  EXPECT_EQ(set.output, "quorin: not saved: the value is not UTF-8 text\n");
  EXPECT_EQ(run(quorin(root, "phone") + "cloud get k --timeout 0").status, 1);
  EXPECT_EQ(run(quorin(root, "phone") + "cloud set k 'é ok'").status, 0);
}

TEST(CloudOutcomeTest, AValueWithANulByteIsRefusedAndSaysSo) {
  TemporaryDirectory root;
  ASSERT_EQ(run(quorin(root, "phone") + "cloud set k old").status, 0);
  auto set = run("printf 'a\\0b' | " + quorin(root, "phone") + "cloud set k - 2>&1");
  EXPECT_EQ(set.status, 2);
  EXPECT_EQ(set.output, "quorin: not saved: the value holds a NUL byte\n");
  EXPECT_EQ(run(quorin(root, "phone") + "cloud get k --timeout 0").output, "old\n");
}

// Another process in a long transaction keeps the account out of reach, no more: the write
// waits on this device and goes out with the next exchange.
TEST(CloudOutcomeTest, AWriteWhileAnotherProcessHoldsTheAccountIsKeptAndPushedLater) {
  TemporaryDirectory root;
  auto account = root.path() / "account";
  ASSERT_EQ(run(quorin(root, "phone") + "cloud set k old").status, 0);
  quorin::testing::AccountLockHolder other(account);
  ASSERT_TRUE(other.held());
  auto set = run(quorin(root, "phone") + "cloud set k new 2>&1");
  EXPECT_EQ(set.status, 0);
  EXPECT_EQ(set.output, "quorin: kept on this device; offline: another process holds " +
                            (account / "cloud.db").string() +
                            "; 1 write(s) will be pushed once the account is back\n");
  ASSERT_TRUE(other.release());

  EXPECT_EQ(run(quorin(root, "tablet") + "cloud get k --timeout 0").output, "old\n");
  auto status = run(quorin(root, "phone") + "cloud status");
  EXPECT_EQ(status.status, 0);
  EXPECT_TRUE(contains(status.output, "\nconnection: connected\npendingWrites: 0\n"))
      << status.output;
  EXPECT_EQ(run(quorin(root, "tablet") + "cloud get k --timeout 0").output, "new\n");
}

TEST(CloudOutcomeTest, ATimeOutIsAFiniteNumberOfSecondsAndAnyOtherUsageErrorExitsWith2) {
  TemporaryDirectory root;
  for (const char* timeout : {"nan", "inf", "-1", "-inf", "soon", "1e999"}) {
    auto get = run(quorin(root, "tablet") + "cloud get k --timeout " + timeout + " 2>&1");
    EXPECT_EQ(get.status, 2) << timeout;
    EXPECT_TRUE(contains(get.output, "a time-out is a finite number of seconds")) << get.output;
  }
  EXPECT_EQ(run(quorin(root, "tablet") + "cloud frobnicate 2>/dev/null").status, 2);
}

TEST(CloudOutcomeTest, OneAccountHasOneJournalHoweverItsDirectoryIsWritten) {
  TemporaryDirectory root;
  auto device = root.path() / "phone";
  std::filesystem::create_directory_symlink(root.path(), root.path() / "link");
  std::filesystem::create_directory(root.path() / "shared");
  auto relative = "cd '" + root.path().string() + "' && " +
                  quorin::testing::quorinOn(device, "./shared/../account/");
  ASSERT_EQ(run(relative + "cloud set a 1").status, 0);
  for (auto written : {root.path() / "account", root.path() / "link" / "account"})
    ASSERT_EQ(run(quorin::testing::quorinOn(device, written.string()) + "cloud set b 2").status, 0);
  EXPECT_EQ(journals(device).size(), 1u);
  // The same for an account whose directory does not exist yet.
  std::filesystem::create_directory(root.path() / "later");
  ASSERT_EQ(run("cd '" + root.path().string() + "' && " +
                quorin::testing::quorinOn(device, "later//new") + "cloud status")
                .status,
            0);
  ASSERT_EQ(run(quorin::testing::quorinOn(device, (root.path() / "later/new/.").string()) +
                "cloud status")
                .status,
            0);
  EXPECT_EQ(journals(device).size(), 2u);
}

#define START_OR_SKIP(server)                                          \
  if (!server.start()) {                                               \
    if (std::getenv("QRN_REQUIRE_REDIS")) FAIL() << "no Redis server"; \
    GTEST_SKIP() << "no redis-server on this machine";                 \
  }

TEST(CloudOutcomeRedisTest, AUserTheServerRefusesTheAccountIsAnErrorAndItsWritesWait) {
  TemporaryDirectory root;
  quorin::testing::RedisServer server(root.path());
  START_OR_SKIP(server);
  auto acl = "redis-cli -s '" + server.socket().string() + "' ACL SETUSER ";
  ASSERT_EQ(run(acl + "elsewhere on '>pw' '~other:*' '&*' '+@all'").output, "OK\n");
  auto limited = server.url("shared", "elsewhere:pw@");

  auto set = run(quorin(root, "phone", limited) + "cloud set k v 2>&1");
  EXPECT_EQ(set.status, 2);
  EXPECT_TRUE(contains(set.output, "kept on this device only, the cloud account is unusable: "))
      << set.output;
  EXPECT_TRUE(contains(set.output, "NOPERM")) << set.output;
  EXPECT_FALSE(contains(set.output, ":pw@")) << "the password is masked";
  auto status = run(quorin(root, "phone", limited) + "cloud status");
  EXPECT_EQ(status.status, 2);
  EXPECT_TRUE(contains(status.output, "connection: unusable: ")) << status.output;
  EXPECT_TRUE(contains(status.output, "pendingWrites: 1\n")) << status.output;
  auto get = run(quorin(root, "tablet", limited) + "cloud get k --timeout 0 2>&1");
  EXPECT_EQ(get.status, 2);
  EXPECT_TRUE(contains(get.output, "quorin: cloud account unusable: ")) << get.output;

  // Once the user may use the account's keys, the write kept on the phone goes through.
  ASSERT_EQ(run(acl + "elsewhere '~quorin:*'").output, "OK\n");
  EXPECT_EQ(run(quorin(root, "phone", limited) + "cloud status").status, 0);
  EXPECT_EQ(run(quorin(root, "tablet", limited) + "cloud get k --timeout 0").output, "v\n");
}

// A server with no room for another client is out of reach: the write waits on the device
// and goes out once there is room (for the few connections a command holds at once).
TEST(CloudOutcomeRedisTest, AFullServerKeepsTheWriteUntilThereIsRoom) {
  TemporaryDirectory root;
  quorin::testing::RedisServer server(root.path());
  START_OR_SKIP(server);
  auto account = server.url("full");
  auto held = quorin::testing::administer(server.socket());
  ASSERT_TRUE(held);
  ASSERT_TRUE(held->command({"CONFIG", "SET", "maxclients", "1"}));

  auto set = run(quorin(root, "phone", account) + "cloud set k v 2>&1");
  EXPECT_EQ(set.status, 0) << set.output;
  EXPECT_TRUE(contains(set.output,
                       "kept on this device; offline: the server refused the "
                       "connection: ERR max number of clients reached"))
      << set.output;
  ASSERT_TRUE(held->command({"CONFIG", "SET", "maxclients", "10"}));
  held.reset();
  auto status = run(quorin(root, "phone", account) + "cloud status");
  EXPECT_EQ(status.status, 0) << status.output;
  EXPECT_TRUE(contains(status.output, "pendingWrites: 0\n")) << status.output;
  EXPECT_EQ(run(quorin(root, "tablet", account) + "cloud get k --timeout 0").output, "v\n");
}

// A script that holds the server makes it busy for everyone: out of reach, not a refusal.
TEST(CloudOutcomeRedisTest, AServerBusyWithAScriptKeepsTheWriteUntilItIsDone) {
  TemporaryDirectory root;
  quorin::testing::RedisServer server(root.path(), std::nullopt, {"--busy-reply-threshold", "50"});
  START_OR_SKIP(server);
  auto account = server.url("busy");
  auto cli = "redis-cli -s '" + server.socket().string() + "' ";
  std::thread script([&] {
    run(cli +
        "EVAL \"local s = redis.call('TIME')[1] while redis.call('TIME')[1] - s < 20 do "
        "end\" 0 >/dev/null 2>&1");
  });
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!contains(run(cli + "PING").output, "BUSY") && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));

  auto set = run(quorin(root, "phone", account) + "cloud set k v 2>&1");
  run(cli + "SCRIPT KILL");
  script.join();
  EXPECT_EQ(set.status, 0) << set.output;
  EXPECT_TRUE(contains(set.output, "kept on this device; offline: ")) << set.output;
  EXPECT_TRUE(contains(set.output, "BUSY Redis is busy running a script")) << set.output;
  auto status = run(quorin(root, "phone", account) + "cloud status");
  EXPECT_EQ(status.status, 0) << status.output;
  EXPECT_TRUE(contains(status.output, "pendingWrites: 0\n")) << status.output;
}

}  // namespace
