// One server user per account, made and deleted by `quorin cloud provision-account` and
// `revoke-account`: a device of one account can neither read, write nor hear another's, and
// a revoked device stops at its next command with its writes kept.
#include <gtest/gtest.h>
#include <hiredis/hiredis.h>
#include <signal.h>

#include <fstream>
#include <iterator>

#include "cli/cli_run.hpp"
#include "platform/linux/cloud_account_location.hpp"
#include "platform/redis/redis_cloud_account.hpp"
#include "platform/redis/redis_reply.hpp"
#include "support/cloud_device.hpp"
#include "support/eventually.hpp"
#include "support/tls_redis_server.hpp"

namespace {

using quorin::testing::contains;
using quorin::testing::eventually;
using quorin::testing::quorin;
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
    // The server as an operator finds it: provisioning loads the functions.
    ASSERT_TRUE(adminCommand({"FUNCTION", "DELETE", "quorin"}));
  }

  // A command of the test's own, as the server's admin; the reply's text, or none.
  std::optional<std::string> adminCommand(const std::vector<std::string_view>& command) {
    if (!adminConnection)
      adminConnection = quorin::testing::administer(server->admin().socket(), kAdminPassword);
    auto reply = adminConnection ? adminConnection->command(command) : nullptr;
    if (!reply) return std::nullopt;
    if (reply->type == REDIS_REPLY_INTEGER) return std::to_string(reply->integer);
    return std::string(quorin::platform::redis::replyText(*reply));
  }

  // redis-cli as the device of account URL `url`, over TLS.
  std::string deviceCli(const std::string& url, const std::string& account) {
    return "redis-cli --tls --cacert '" + certificates->file("ca.pem").string() +
           "' -h localhost -p " + std::to_string(server->port()) + " --user quorin-" + account +
           " --pass '" + url.substr(url.find(':', 9) + 1, 64) + "' --no-auth-warning ";
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
  std::unique_ptr<quorin::platform::redis::RedisConnection> adminConnection;
  std::string admin;
};

// Stand-ins for the library of another version.
std::string libraryOfVersion(int version) {
  return "#!lua name=quorin\nredis.register_function{function_name = 'quorin_version', "
         "callback = function() return " +
         std::to_string(version) + " end, flags = {'no-writes'}}";
}

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
  eventually([&] { return contains(listener.status().problem.value_or(""), "subscription"); });
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
  quorin::platform::common::LocalNotificationCenter center;
  auto selection = std::make_shared<quorin::platform::posix::CloudAccountSelection>(
      carol, quorin::platform::linux::cloudAccountKinds());
  quorin::testing::CloudDevice phone(selection, root.path() / "phone", center);
  phone.store.setObject(quorin::formats::Value("before"), "k");
  ASSERT_TRUE(phone.store.exchange());
  EXPECT_EQ(run(std::string(QUORIN_CLI_PATH) + " cloud revoke-account " + admin + " carol").status,
            0);

  phone.store.setObject(quorin::formats::Value("after"), "k");
  EXPECT_FALSE(phone.store.exchange()) << "the server ended the device's connections";
  // The subscriber, reconnecting, is the first to hear the server's answer.
  eventually([&] { return phone.store.status().account.problem.has_value(); });
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

// Above all, it can run no code of its own: only the account's functions.
TEST_F(CloudAccountUserTest, AnAccountsUserMayDoNothingButWhatADeviceDoes) {
  auto dave = provision("dave");
  auto cli = deviceCli(dave, "dave");
  for (const std::string refused :
       {"FLUSHALL", "EVAL 'return 1' 0", "EVALSHA e0e1f9fabfc9d4800c877a703b823ac0578ff8db 0",
        "SCRIPT LOAD 'return 1'",
        "FUNCTION LOAD \"#!lua name=mine\nredis.register_function('f', "
        "function() return 1 end)\"",
        "FUNCTION DELETE quorin", "FUNCTION FLUSH", "CONFIG SET maxmemory 1"}) {
    auto answer = run(cli + refused + " 2>&1");
    EXPECT_TRUE(contains(answer.output, "NOPERM")) << refused << ": " << answer.output;
  }
  EXPECT_EQ(run(cli + "FCALL_RO quorin_version 0").output, "2\n");
}

// The library is loaded when missing or older, left when it is the same, and a newer one
// is never replaced by an older quorin.
TEST_F(CloudAccountUserTest, ProvisioningLoadsTheFunctionsOnlyWhenTheirVersionDiffers) {
  provision("gina");
  EXPECT_EQ(adminCommand({"FCALL_RO", "quorin_version", "0"}), "2");
  EXPECT_EQ(adminCommand({"FCALL_RO", "quorin_changes_v1", "2", "a", "b", "0", "10"}), "")
      << "reads may run as read-only";
  EXPECT_TRUE(
      contains(adminCommand({"FCALL_RO", "quorin_push_v1", "4", "a", "b", "c", "d"}).value_or(""),
               "write flag"))
      << "writes may not";

  ASSERT_TRUE(adminCommand({"CONFIG", "RESETSTAT"}));
  provision("gina");
  EXPECT_FALSE(contains(adminCommand({"INFO", "commandstats"}).value_or(""), "function|load"))
      << "the same version is not loaded again";

  ASSERT_EQ(adminCommand({"FUNCTION", "LOAD", "REPLACE", libraryOfVersion(0)}), "quorin");
  provision("gina");
  EXPECT_EQ(adminCommand({"FCALL_RO", "quorin_version", "0"}), "2");
  EXPECT_EQ(adminCommand({"FCALL_RO", "quorin_changes_v1", "2", "a", "b", "0", "10"}), "");

  ASSERT_EQ(adminCommand({"FUNCTION", "LOAD", "REPLACE", libraryOfVersion(3)}), "quorin");
  auto refused =
      run(std::string(QUORIN_CLI_PATH) + " cloud provision-account " + admin + " gina 2>&1");
  EXPECT_EQ(refused.status, 2);
  EXPECT_TRUE(contains(refused.output,
                       "the server holds version 3 of the account's functions, "
                       "newer than version 2 of this quorin"))
      << refused.output;
  EXPECT_EQ(adminCommand({"FCALL_RO", "quorin_version", "0"}), "3");
}

// Until someone provisions the server, and then at once, with the write kept meanwhile.
TEST_F(CloudAccountUserTest, ADeviceFacingAServerWithoutItsFunctionsSaysToProvisionIt) {
  auto hal = provision("hal");
  ASSERT_TRUE(adminCommand({"FUNCTION", "DELETE", "quorin"}));
  auto set = run(quorin(root, "phone", hal) + "cloud set k v 2>&1");
  EXPECT_EQ(set.status, 2);
  EXPECT_TRUE(contains(set.output, "kept on this device only, the cloud account is unusable: "))
      << set.output;
  EXPECT_TRUE(contains(set.output,
                       "the server lacks the account's functions (version 2): run "
                       "quorin cloud provision-account"))
      << set.output;

  auto renewed = provision("hal");
  // A user provisioned before the functions, allowed EVALSHA but not FCALL.
  ASSERT_TRUE(adminCommand({"ACL", "SETUSER", "quorin-hal", "-fcall", "+evalsha"}));
  auto old = run(quorin(root, "phone", renewed) + "cloud status");
  EXPECT_EQ(old.status, 2);
  EXPECT_TRUE(contains(old.output,
                       "may not call its functions (it was provisioned before "
                       "them): run quorin cloud provision-account"))
      << old.output;

  renewed = provision("hal");
  auto status = run(quorin(root, "phone", renewed) + "cloud status");
  EXPECT_EQ(status.status, 0) << status.output;
  EXPECT_TRUE(contains(status.output, "pendingWrites: 0\n")) << status.output;
  EXPECT_EQ(run(quorin(root, "tablet", renewed) + "cloud get k --timeout 0").output, "v\n");
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
  eventually([&] {
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline");
    std::string read((std::istreambuf_iterator<char>(file)), {});
    if (contains(read, "*@")) shown = read;  // masked once its options are parsed
    return contains(shown, "account=frank");
  });
  ::kill(pid, SIGTERM);
  ::pclose(pipe);
  EXPECT_TRUE(contains(shown, "account=frank&ca=**")) << shown;
  EXPECT_FALSE(contains(shown, password)) << shown;
  EXPECT_FALSE(contains(shown, certificates->file("").string())) << shown;
}

}  // namespace
