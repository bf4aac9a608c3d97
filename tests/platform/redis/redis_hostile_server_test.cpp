// The Redis account against a server of the test's own that misbehaves on purpose: replies
// that never end, or come slowly, or are not of the shape due; words meant for a terminal;
// a server that is busy, speaks no TLS or lacks the account's functions. Each call ends at
// once, or at its deadline, with a reason that says what went wrong, and a device keeps its
// write.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "formats/plist_codec.hpp"
#include "platform/linux/cloud_account_location.hpp"
#include "platform/redis/redis_cloud_account.hpp"
#include "support/cloud_device.hpp"
#include "support/descriptor_shortage.hpp"
#include "support/eventually.hpp"
#include "support/fake_redis_server.hpp"
#include "support/forked_child.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

using namespace std::chrono_literals;
using redis::RedisCloudAccount;
using testing::eventually;
using testing::FakeRedisServer;
using Answer = FakeRedisServer::Answer;
using Command = FakeRedisServer::Command;

const std::string kChannel = "quorin:{x}:changes";
const std::string kFlood(64 * 1024, 'x');

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A server that answers as a good one would, but each `name` command as `answer` says.
FakeRedisServer::Script answering(const std::string& name, const Answer& answer) {
  return [name, answer](const Command& command) {
    return !command.empty() && command[0] == name ? answer : FakeRedisServer::polite(command);
  };
}

std::vector<CloudWrite> oneWrite(RedisCloudAccount& account) {
  return {{"k", formats::serializePlist(formats::Value("v"), formats::PlistFormat::binary),
           account.now()}};
}

bool pushOne(RedisCloudAccount& account) {
  std::vector<CloudWriteOutcome> outcomes;
  return account.push(oneWrite(account), "phone", outcomes);
}

bool readChanges(RedisCloudAccount& account) {
  std::vector<CloudRow> rows;
  return account.changesSince(0, rows);
}

// Why the account cannot be used, or else why it is out of reach.
std::string reason(RedisCloudAccount& account) {
  auto status = account.status();
  return status.problem.value_or(status.offlineReason);
}

bool hasControlCharacter(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) return true;
  }
  return false;
}

struct Flood {
  const char* name;
  std::string command;  // the one the server answers so
  Answer answer;
  std::string reason;  // what the account says of it
};

void PrintTo(const Flood& flood, std::ostream* out) {
  *out << flood.name;
}

class EndlessReplyTest : public ::testing::TestWithParam<Flood> {};

INSTANTIATE_TEST_SUITE_P(
    Floods, EndlessReplyTest,
    ::testing::Values(
        Flood{"GigabyteString", "FCALL", Answer::flood("$1000000000\r\n", kFlood),
              "announces a string of 1000000000 bytes"},
        Flood{"EndlessLine", "FCALL", Answer::flood("+", kFlood), "longer than 1179648 bytes"},
        Flood{"EndlessError", "FCALL", Answer::flood("-ERR ", kFlood), "longer than 1179648 bytes"},
        Flood{"StringPastItsLength", "FCALL", Answer::flood("*1\r\n$1048576\r\n", kFlood),
              "a string longer than it announced"},
        Flood{"EndlessNesting", "FCALL", Answer::flood("", "*1\r\n"),
              "nests arrays more than 1 deep"},
        Flood{"HugeArray", "FCALL", Answer::flood("*2147483647\r\n", ":0\r\n"),
              "an array of 2147483647 elements"},
        Flood{"EndlessElements", "FCALL", Answer::flood("*3072\r\n", ":0\r\n"),
              "with an array of 3072"},
        Flood{"OnPing", "PING", Answer::flood("$1000000000\r\n", kFlood), "1000000000 bytes"},
        Flood{"OnTime", "TIME", Answer::flood("+", kFlood), "longer than 1179648 bytes"},
        Flood{"OnChanges", "FCALL_RO", Answer::flood("*3\r\n$1000000000\r\n", kFlood),
              "1000000000 bytes"},
        Flood{"NotRedisAtAll", "FCALL", Answer::flood("HTTP/1.1 200 OK\r\n", kFlood),
              "not in Redis's protocol"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_P(EndlessReplyTest, EndsTheCallWithoutReadingItAll) {
  FakeRedisServer server(answering(GetParam().command, GetParam().answer));
  RedisCloudAccount account(server.url("x"));
  bool answered = GetParam().command == "FCALL_RO" ? readChanges(account) : pushOne(account);
  EXPECT_FALSE(answered);
  EXPECT_TRUE(contains(reason(account), GetParam().reason)) << reason(account);
  EXPECT_FALSE(account.status().problem) << "out of reach, not refused for good";
}

TEST(RedisHostileServerTest, AReplyThatKeepsComingSlowlyEndsAtTheDeadline) {
  FakeRedisServer server(answering("FCALL", Answer::drip("+", "slow ")));
  RedisCloudAccount account(server.url("x"));
  EXPECT_FALSE(pushOne(account));
  EXPECT_TRUE(contains(reason(account), "did not finish its reply in time")) << reason(account);
}

struct Subscription {
  const char* name;
  Answer answer;  // to SUBSCRIBE
  std::string reason;
};

void PrintTo(const Subscription& subscription, std::ostream* out) {
  *out << subscription.name;
}

class HostileSubscriptionTest : public ::testing::TestWithParam<Subscription> {};

const std::string kConfirmation = "*3\r\n$9\r\nsubscribe\r\n" + testing::bulk(kChannel) + ":1\r\n";
const std::string kMessageStart = "*3\r\n$7\r\nmessage\r\n" + testing::bulk(kChannel);

INSTANTIATE_TEST_SUITE_P(
    Subscriptions, HostileSubscriptionTest,
    ::testing::Values(
        Subscription{"HugeConfirmation", Answer::flood("$1000000000\r\n", kFlood),
                     "announces a string of 1000000000 bytes, more than the 1024"},
        Subscription{"HugeMessage",
                     Answer::flood(kConfirmation + kMessageStart + "$100000\r\n", kFlood),
                     "announces a string of 100000 bytes, more than the 1024"},
        Subscription{"EndlessMessages",
                     Answer::flood(kConfirmation, kMessageStart + "$1\r\n7\r\n:1\r\n"),
                     "not a message on the account's channel"},
        Subscription{"MessageNeverFinished", Answer::send(kConfirmation + kMessageStart),
                     "did not finish a message in time"},
        Subscription{"NotAMessage", Answer::send(kConfirmation + ":1\r\n"),
                     "sent the subscription the integer 1, not a message"},
        Subscription{"WrongConfirmation", Answer::send("+OK\r\n"),
                     "answered the subscription with the status \"OK\""}),
    [](const auto& test) { return std::string(test.param.name); });

// The subscriber gives up on the connection, says why, and tries again with its back-off.
TEST_P(HostileSubscriptionTest, EndsTheSubscriptionAndSaysWhy) {
  FakeRedisServer server(answering("SUBSCRIBE", GetParam().answer));
  RedisCloudAccount account(server.url("x"));
  std::atomic<int> prompts{0};
  account.watch([&] { ++prompts; });
  EXPECT_TRUE(eventually([&] { return contains(reason(account), GetParam().reason); }))
      << reason(account);
  auto subscriptions = [&] {
    auto received = server.received();
    return std::count(received.begin(), received.end(), "SUBSCRIBE");
  };
  EXPECT_TRUE(eventually([&] { return subscriptions() >= 2; })) << "it tries again";
  EXPECT_FALSE(account.status().problem);
}

struct Shape {
  const char* name;
  std::string reply;
  std::string reason;
};

void PrintTo(const Shape& shape, std::ostream* out) {
  *out << shape.name;
}

class WrongShapeTest : public ::testing::TestWithParam<Shape> {};

INSTANTIATE_TEST_SUITE_P(
    Pushes, WrongShapeTest,
    ::testing::Values(Shape{"Strings", "*1\r\n$1\r\n0\r\n",
                            "with the string \"0\", not an outcome"},
                      Shape{"Nils", "*1\r\n$-1\r\n", "with nil, not an outcome"},
                      Shape{"Nested", "*1\r\n*1\r\n:0\r\n", "nests arrays"},
                      Shape{"UnknownOutcome", "*1\r\n:7\r\n", "with the integer 7, not an outcome"},
                      Shape{"TooMany", "*2\r\n:0\r\n:0\r\n",
                            "with an array of 2, not an outcome (0, 1 or 2) for each of 1 writes"},
                      Shape{"NoneAtAll", "*0\r\n", "with an array of 0"},
                      Shape{"Status", "+OK\r\n", "with the status \"OK\""},
                      Shape{"Integer", ":0\r\n", "with the integer 0"},
                      Shape{"Nil", "$-1\r\n", "with nil"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_P(WrongShapeTest, APushAnsweredSoFailsAndSaysWhatCame) {
  FakeRedisServer server(answering("FCALL", Answer::send(GetParam().reply)));
  RedisCloudAccount account(server.url("x"));
  std::vector<CloudWriteOutcome> outcomes;
  EXPECT_FALSE(account.push(oneWrite(account), "phone", outcomes));
  EXPECT_TRUE(contains(reason(account), GetParam().reason)) << reason(account);
  EXPECT_FALSE(account.status().problem);
}

class WrongChangesTest : public ::testing::TestWithParam<Shape> {};

INSTANTIATE_TEST_SUITE_P(
    Changes, WrongChangesTest,
    ::testing::Values(
        Shape{"NotTriples", "*1\r\n$1\r\nk\r\n", "with an array of 1, not key, version"},
        Shape{"KeyNotAString", "*3\r\n:1\r\n$1\r\n5\r\n$-1\r\n", "with the integer 1"},
        Shape{"VersionNotANumber", "*3\r\n$1\r\nk\r\n$3\r\nabc\r\n$-1\r\n",
              "with the string \"abc\""},
        Shape{"VersionNotAfterTheOneAsked", "*3\r\n$1\r\nk\r\n$1\r\n0\r\n$-1\r\n",
              "with the string \"0\""},
        Shape{"VersionsOutOfOrder",
              "*6\r\n$1\r\na\r\n$1\r\n5\r\n$-1\r\n$1\r\nb\r\n$1\r\n5\r\n$-1\r\n",
              "with the string \"5\", not key, version and value triples of later"},
        Shape{"ValueNotAString", "*3\r\n$1\r\nk\r\n$1\r\n1\r\n:3\r\n", "with the integer 3"},
        Shape{"Error", "-ERR Error running script\r\n", "refused a read: ERR Error running"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_P(WrongChangesTest, AReadOfChangesAnsweredSoFailsAndSaysWhatCame) {
  FakeRedisServer server(answering("FCALL_RO", Answer::send(GetParam().reply)));
  RedisCloudAccount account(server.url("x"));
  EXPECT_FALSE(readChanges(account));
  EXPECT_TRUE(contains(reason(account), GetParam().reason)) << reason(account);
}

TEST(RedisHostileServerTest, EveryOtherReplyOfTheWrongShapeFailsItsCall) {
  FakeRedisServer hget(answering("HGET", Answer::send("*0\r\n")));
  RedisCloudAccount reader(hget.url("x"));
  std::optional<std::string> value;
  EXPECT_FALSE(reader.current("k", value));
  EXPECT_TRUE(contains(reason(reader), "answered a read of a value with an array of 0"))
      << reason(reader);

  FakeRedisServer time(answering("TIME", Answer::send("+OK\r\n")));
  RedisCloudAccount clock(time.url("x"));
  EXPECT_FALSE(pushOne(clock));
  EXPECT_TRUE(contains(reason(clock), "answered TIME with the status \"OK\"")) << reason(clock);

  FakeRedisServer ping(answering("PING", Answer::send(":1\r\n")));
  RedisCloudAccount pinged(ping.url("x"));
  EXPECT_FALSE(pushOne(pinged));
  EXPECT_TRUE(contains(reason(pinged), "the server refused the connection: the integer 1"))
      << reason(pinged);
  EXPECT_FALSE(pinged.status().problem);
}

// The write stays in the journal, and the device says why it could not push it.
TEST(RedisHostileServerTest, AWrongReplyToAPushLeavesTheWriteWaiting) {
  FakeRedisServer server(answering("FCALL", Answer::send("*1\r\n$1\r\n0\r\n")));
  testing::TemporaryDirectory root;
  common::LocalNotificationCenter center;
  testing::CloudDevice phone(
      std::make_shared<CloudAccountSelection>(server.url("x"), linux::cloudAccountKinds()),
      root.path() / "phone", center);
  phone.store.setObject(formats::Value("kept"), "k");
  EXPECT_FALSE(phone.store.exchange());
  auto status = phone.store.status();
  EXPECT_EQ(status.pendingWrites, 1u);
  EXPECT_FALSE(status.account.problem);
  EXPECT_TRUE(contains(status.account.offlineReason, "the string \"0\""))
      << status.account.offlineReason;
}

TEST(RedisHostileServerTest, TheServersWordsAreBoundedAndEscapedInEveryReason) {
  const std::string words =
      "ERR \x1b[2J\x1b]0;owned\x07" + std::string("\0", 1) + std::string(3000, 'A') + "\r\n";
  for (const std::string command : {"FCALL", "PING", "SUBSCRIBE"}) {
    FakeRedisServer server(answering(command, Answer::send("-" + words)));
    RedisCloudAccount account(server.url("x"));
    if (command == "SUBSCRIBE") {
      account.watch([] {});
      ASSERT_TRUE(eventually([&] { return contains(reason(account), "owned"); }));
    } else {
      EXPECT_FALSE(pushOne(account));
    }
    auto said = reason(account);
    EXPECT_LT(said.size(), 500u) << command;
    EXPECT_FALSE(hasControlCharacter(said)) << command << ": " << said;
    EXPECT_TRUE(contains(said, "ERR \\x1b[2J\\x1b]0;owned\\x07\\x00AAA")) << said;
    EXPECT_TRUE(said.ends_with("...")) << said;
  }
}

struct ServerError {
  std::string text;
  bool lasting;
};

void PrintTo(const ServerError& error, std::ostream* out) {
  *out << error.text;
}

class ServerErrorTest : public ::testing::TestWithParam<ServerError> {};

INSTANTIATE_TEST_SUITE_P(
    Errors, ServerErrorTest,
    ::testing::Values(
        ServerError{"LOADING Redis is loading the dataset in memory", false},
        ServerError{"BUSY Redis is busy running a script. You can only call SCRIPT KILL or "
                    "SHUTDOWN NOSAVE.",
                    false},
        ServerError{"OOM command not allowed when used memory > 'maxmemory'.", false},
        ServerError{"MASTERDOWN Link with MASTER is down and replica-serve-stale-data is set "
                    "to 'no'.",
                    false},
        ServerError{"TRYAGAIN Multiple keys request during rehashing of slot", false},
        ServerError{"READONLY You can't write against a read only replica.", false},
        ServerError{"CLUSTERDOWN The cluster is down", false},
        ServerError{"MISCONF Redis is configured to save RDB snapshots, but it's currently "
                    "unable to persist to disk.",
                    false},
        ServerError{"NOREPLICAS Not enough good replicas to write.", false},
        ServerError{"ERR max number of clients reached", false},
        ServerError{"WRONGPASS invalid username-password pair or user is disabled.", true},
        ServerError{"NOPERM this user has no permissions to access one of the keys used as "
                    "arguments",
                    true},
        ServerError{"NOAUTH Authentication required.", true},
        ServerError{"ERR The user executing the script can't run this command or subcommand "
                    "script: quorin_push_v1, on @user_function:33.",
                    true}),
    [](const auto& test) {
      auto name = test.param.text.substr(0, test.param.text.find_first_of(" .'"));
      return name + "_" + std::to_string(test.index);
    });

// Busy, loading, failing over or full: out of reach, tried again. A refusal of this device
// lasts. Either way the server's words say which.
TEST_P(ServerErrorTest, IsOutOfReachUnlessItRefusesThisDevice) {
  for (const std::string command : {"FCALL", "PING"}) {
    FakeRedisServer server(answering(command, Answer::send("-" + GetParam().text + "\r\n")));
    RedisCloudAccount account(server.url("x"));
    EXPECT_FALSE(pushOne(account));
    auto status = account.status();
    EXPECT_EQ(status.problem.has_value(), GetParam().lasting) << command << ": " << reason(account);
    EXPECT_TRUE(contains(reason(account), GetParam().text)) << command << ": " << reason(account);
  }
}

// A full server says so as a connection arrives, then closes it.
TEST(RedisHostileServerTest, AServerWithNoRoomForAnotherClientIsOutOfReach) {
  FakeRedisServer server([](const Command& command) {
    return command.empty() ? Answer::sendAndClose("-ERR max number of clients reached\r\n")
                           : FakeRedisServer::polite(command);
  });
  RedisCloudAccount account(server.url("x"));
  EXPECT_EQ(account.probe(), std::nullopt);
  EXPECT_FALSE(pushOne(account));
  EXPECT_TRUE(contains(reason(account), "max number of clients reached")) << reason(account);
}

// The device's own retries, with no host call after the first, get the write through once
// the server is no longer busy.
TEST(RedisHostileServerTest, ALongLivedDeviceTriesABusyServerAgainOnItsOwn) {
  std::atomic<int> busy{3};
  FakeRedisServer server([&](const Command& command) {
    if (!command.empty() && command[0] == "FCALL" && busy-- > 0)
      return Answer::send("-BUSY Redis is busy running a script.\r\n");
    return FakeRedisServer::polite(command);
  });
  testing::TemporaryDirectory root;
  common::LocalNotificationCenter center;
  testing::CloudDevice phone(
      std::make_shared<CloudAccountSelection>(server.url("x"), linux::cloudAccountKinds()),
      root.path() / "phone", center);
  phone.store.setObject(formats::Value("kept"), "k");
  EXPECT_TRUE(phone.store.synchronize());
  EXPECT_TRUE(eventually([&] { return phone.store.status().pendingWrites == 0; }))
      << phone.store.status().account.offlineReason;
  EXPECT_LE(busy.load(), 0);
}

TEST(RedisHostileServerTest, AServerWithoutTheFunctionsSaysToProvisionIt) {
  FakeRedisServer server(answering("FCALL", Answer::send("-ERR Function not found\r\n")));
  RedisCloudAccount account(server.url("x"));
  EXPECT_FALSE(pushOne(account));
  auto problem = account.status().problem.value_or("none");
  EXPECT_TRUE(contains(problem,
                       "the server lacks the account's functions (version 2): run "
                       "quorin cloud provision-account"))
      << problem;

  FakeRedisServer older(answering("FCALL_RO", Answer::send("-ERR unknown command 'FCALL_RO'\r\n")));
  RedisCloudAccount old(older.url("x"));
  EXPECT_FALSE(readChanges(old));
  EXPECT_TRUE(contains(old.status().problem.value_or(""), "came with Redis 7.0")) << reason(old);
}

// Whether it answers the hello in its plain protocol at once, or stays silent until asked
// something plain, a server that speaks no TLS is a refusal that lasts.
TEST(RedisHostileServerTest, APlainServerNamedByRedissIsALastingRefusal) {
  FakeRedisServer server(FakeRedisServer::polite);
  RedisCloudAccount account(server.url("x", "rediss"));
  auto problem = account.probe();
  ASSERT_TRUE(problem.has_value());
  EXPECT_TRUE(contains(*problem, "the server does not speak TLS")) << *problem;
}

// The command connection is replaced on the caller's thread while another asks how the
// account stands.
TEST(RedisHostileServerTest, StatusMayBeAskedFromAnotherThreadWhileCallsFail) {
  FakeRedisServer server(answering("HGET", Answer::send("+OK\r\n")));
  RedisCloudAccount account(server.url("x"));
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    while (!done) account.status();
  });
  for (int i = 0; i < 50; ++i) {
    std::optional<std::string> value;
    EXPECT_FALSE(account.current("k", value));
  }
  done = true;
  watcher.join();
  EXPECT_TRUE(contains(reason(account), "the status \"OK\"")) << reason(account);
}

// With no descriptor left for its eventfd, the subscriber still stops when the account
// goes. Forked, since it lowers the process's descriptor limit; a hang is the failure.
TEST(RedisHostileServerTest, AnAccountWhoseWatchHadNoDescriptorStillCloses) {
  if (auto why = testing::whyNoDescriptorShortage()) GTEST_SKIP() << *why;
  testing::expectForkedChildSucceeds([] {
    FakeRedisServer server(FakeRedisServer::polite);
    auto account = std::make_unique<RedisCloudAccount>(server.url("x"));
    if (!testing::withDescriptorsLeft(0, [&] { account->watch([] {}); })) ::_exit(4);
    if (!eventually([&] { return account->status().connected; })) ::_exit(3);
    account.reset();
  });
}

}  // namespace
}  // namespace quorin::platform::posix
