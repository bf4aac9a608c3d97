// One server user per account, made and deleted by `quorin cloud provision-account` and
// `revoke-account`: a device of one account can neither read, write nor hear another's, and
// a revoked device stops at its next command with its writes kept.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <iterator>

#include "cli/cli_run.hpp"
#include "platform/linux/cloud_account_location.hpp"
#include "platform/redis/redis_cloud_account.hpp"
#include "support/cloud_device.hpp"
#include "support/tls_redis_server.hpp"

namespace {

using namespace std::chrono_literals;
using quorin::testing::quorin;
using quorin::testing::contains;
using quorin::testing::run;
using quorin::testing::TemporaryDirectory;
using quorin::testing::TlsRedisServer;

// `text` with its first `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
  if (auto at = text.find(from); at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

std::string withoutNewline(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

class CloudAccountUserTest : public ::testing::Test {
 protected:
  static constexpr const char* kAdminPassword = "admin secret";

  void SetUp() override {
    certificates = quorin::testing::TestCertificates::make();
    if (certificates) {
      server = std::make_unique<TlsRedisServer>(
          *certificates, root.path(), TlsRedisServer::Options{"server", false, kAdminPassword});
    }
    if (!server || !server->start()) {
      if (quorin::testing::tlsRequired()) FAIL() << "no redis-server serving TLS, or no openssl";
      GTEST_SKIP() << "no redis-server serving TLS, or no openssl";
    }
    admin = "'" + server->url("x", std::string(":") + kAdminPassword + "@") + "'";
    admin = replaced(admin, "account=x&", "");
  }

  // The device's URL, as provisioning printed it.
  std::string provision(const std::string& account) {
    auto made = run(std::string(QUORIN_CLI_PATH) + " cloud provision-account " + admin + " " +
                    account + " 2>&1");
    EXPECT_EQ(made.status, 0) << made.output;
    return withoutNewline(made.output);
  }

  std::unique_ptr<quorin::testing::TestCertificates> certificates;
  TemporaryDirectory root;
  std::unique_ptr<TlsRedisServer> server;
  std::string admin;
};

TEST_F(CloudAccountUserTest, ADeviceCannotReadWriteOrHearAnotherAccount) {
  auto alice = provision("alice");
  auto bob = provision("bob");
  ASSERT_TRUE(alice.starts_with("rediss://quorin-alice:")) << alice;
  EXPECT_FALSE(contains(alice, kAdminPassword));
  ASSERT_EQ(run(quorin(root, "alice-phone", alice) + "cloud set k from-alice").status, 0);
  EXPECT_EQ(run(quorin(root, "bob-phone", bob) + "cloud set k from-bob").status, 0);

  // Bob's credentials, Alice's account.
  auto intruder = replaced(bob, "account=bob", "account=alice");
  auto write = run(quorin(root, "intruder", intruder) + "cloud set k overwritten 2>&1");
  EXPECT_EQ(write.status, 2);
  EXPECT_TRUE(contains(write.output, "the cloud account is unusable: ")) << write.output;
  EXPECT_TRUE(contains(write.output, "NOPERM")) << write.output;
  auto read = run(quorin(root, "intruder", intruder) + "cloud get k --timeout 0 2>&1");
  EXPECT_EQ(read.status, 2);
  EXPECT_TRUE(contains(read.output, "cloud account unusable: ")) << read.output;
  EXPECT_FALSE(contains(read.output, "from-alice")) << read.output;
  EXPECT_EQ(run(quorin(root, "intruder", intruder) + "cloud status").status, 2);

  quorin::platform::redis::RedisCloudAccount listener(intruder);
  listener.watch([] {});
  for (auto deadline = std::chrono::steady_clock::now() + 20s;
       !contains(listener.status().problem.value_or(""), "subscription") &&
       std::chrono::steady_clock::now() < deadline;)
    std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(contains(listener.status().problem.value_or(""),
                       "the server refused the subscription: NOPERM"))
      << listener.status().problem.value_or("none");

  EXPECT_EQ(run(quorin(root, "alice-tablet", alice) + "cloud get k --timeout 0").output,
            "from-alice\n");
  EXPECT_EQ(run(quorin(root, "bob-tablet", bob) + "cloud get k --timeout 0").output, "from-bob\n");
}

// A device running when its account is revoked keeps what it writes from then on, and
// pushes it once the account is provisioned again, under the new password.
TEST_F(CloudAccountUserTest, ARevokedDeviceStopsAtItsNextCommandAndKeepsItsWrites) {
  auto carol = provision("carol");
  quorin::platform::posix::LocalNotificationCenter center;
  auto selection = std::make_shared<quorin::platform::posix::CloudAccountSelection>(
      carol, quorin::platform::posix::cloudAccountKinds());
  quorin::testing::CloudDevice phone(selection, root.path() / "phone", center);
  phone.store.setObject(quorin::platform::Value("before"), "k");
  ASSERT_TRUE(phone.store.exchange());
  EXPECT_EQ(run(std::string(QUORIN_CLI_PATH) + " cloud revoke-account " + admin + " carol").status,
            0);

  phone.store.setObject(quorin::platform::Value("after"), "k");
  EXPECT_FALSE(phone.store.exchange()) << "the server ended the device's connections";
  // The subscriber, reconnecting, is the first to hear the server's answer.
  for (auto deadline = std::chrono::steady_clock::now() + 20s;
       !phone.store.status().account.problem && std::chrono::steady_clock::now() < deadline;)
    std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(phone.store.exchange());
  auto problem = phone.store.status().account.problem.value_or("none");
  EXPECT_TRUE(contains(problem, "WRONGPASS")) << problem;
  EXPECT_EQ(phone.store.status().pendingWrites, 1u);
  auto refused = run(quorin(root, "tablet", carol) + "cloud set k other 2>&1");
  EXPECT_EQ(refused.status, 2);
  EXPECT_TRUE(contains(refused.output, "cloud account unusable: ")) << refused.output;
  EXPECT_EQ(run(std::string(QUORIN_CLI_PATH) + " cloud revoke-account " + admin + " carol").status,
            1)
      << "already gone";

  auto renewed = provision("carol");
  EXPECT_NE(renewed, carol);
  selection->switchTo(renewed);
  ASSERT_TRUE(phone.store.exchange()) << phone.store.status().account.problem.value_or("");
  EXPECT_EQ(phone.store.status().pendingWrites, 0u);
  EXPECT_EQ(run(quorin(root, "tablet", renewed) + "cloud get k --timeout 0").output, "after\n");
}

TEST_F(CloudAccountUserTest, AnAccountsUserMayDoNothingButWhatADeviceDoes) {
  auto dave = provision("dave");
  auto flush = run("redis-cli --tls --cacert '" + certificates->file("ca.pem").string() +
                   "' -h localhost -p " + std::to_string(server->port()) + " --user quorin-dave" +
                   " --pass '" + dave.substr(dave.find(':', 9) + 1, 64) +
                   "' --no-auth-warning FLUSHALL 2>&1");
  EXPECT_TRUE(contains(flush.output, "NOPERM")) << flush.output;
}

TEST_F(CloudAccountUserTest, TheAdminPasswordNeverShowsInWhatTheCommandSays) {
  auto wrong = replaced(admin, "admin secret", "wrong secret");
  auto refused =
      run(std::string(QUORIN_CLI_PATH) + " cloud provision-account " + wrong + " erin 2>&1");
  EXPECT_EQ(refused.status, 2);
  EXPECT_TRUE(contains(refused.output, "WRONGPASS")) << refused.output;
  EXPECT_FALSE(contains(refused.output, "wrong secret")) << refused.output;
  EXPECT_FALSE(contains(refused.output, certificates->file("").string())) << refused.output;
}

// What `ps` shows of a running device.
TEST_F(CloudAccountUserTest, TheProcessCommandLineShowsNoPasswordAndNoFile) {
  auto frank = provision("frank");
  auto password = frank.substr(frank.find(':', 9) + 1, 64);
  FILE* pipe = ::popen(
      (quorin(root, "phone", frank) + "cloud get k --timeout 60 >/dev/null & echo $!").c_str(),
      "r");
  int pid = 0;
  ASSERT_EQ(std::fscanf(pipe, "%d", &pid), 1);
  std::string shown;
  for (auto deadline = std::chrono::steady_clock::now() + 20s;
       !contains(shown, "account=frank") && std::chrono::steady_clock::now() < deadline;) {
    std::this_thread::sleep_for(10ms);
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline");
    std::string read((std::istreambuf_iterator<char>(file)), {});
    if (contains(read, "*@")) shown = read;  // masked once its options are parsed
  }
  ::kill(pid, SIGTERM);
  ::pclose(pipe);
  EXPECT_TRUE(contains(shown, "account=frank&ca=**")) << shown;
  EXPECT_FALSE(contains(shown, password)) << shown;
  EXPECT_FALSE(contains(shown, certificates->file("").string())) << shown;
}

}  // namespace
