// `quorin cloud` against a server of the test's own that floods, answers in the wrong shape,
// quotes terminal controls, is busy, speaks no TLS or lacks the account's functions: each
// command ends with a bounded memory and a bounded, escaped message, and its exit status
// says what really happened to the write.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_run.hpp"
#include "support/fake_redis_server.hpp"
#include "support/measured_run.hpp"
#include "support/temporary_directory.hpp"

namespace {

using namespace std::chrono_literals;
using quorin::testing::contains;
using quorin::testing::FakeRedisServer;
using Answer = FakeRedisServer::Answer;
using Command = FakeRedisServer::Command;

// What one `quorin` process may use at its peak, a flood or none; a sanitizer's runtime
// takes as much as it needs beside it.
constexpr long kPeakKilobytes = 64 * 1024;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
// A hang check: each run ends well within it.
constexpr auto kHangLimit = 60s;

const std::string kFlood(64 * 1024, 'x');

FakeRedisServer::Script answering(const std::string& name, const Answer& answer) {
  return [name, answer](const Command& command) {
    return !command.empty() && command[0] == name ? answer : FakeRedisServer::polite(command);
  };
}

class CloudHostileServerTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(root.path() / "phone"); }

  // `quorin cloud ARGUMENTS...` on the phone, against `server`.
  quorin::testing::MeasuredRun cloud(const FakeRedisServer& server,
                                     const std::vector<std::string>& arguments,
                                     const std::string& scheme = "redis") {
    std::vector<std::string> argv{
        QUORIN_CLI_PATH,   "--container",           (root.path() / "phone").string(),
        "--cloud-account", server.url("x", scheme), "cloud"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto run = quorin::testing::runMeasured(argv, kHangLimit);
    std::ostringstream line;
    line << "quorin cloud";
    for (const auto& argument : arguments) line << " " << argument;
    line << ": exit " << run.status << " in " << run.took.count() << " ms, peak "
         << run.peakKilobytes / 1024 << " MB";
    std::cout << line.str() << "\n";
    RecordProperty("run", line.str());
    return run;
  }

  quorin::testing::TemporaryDirectory root;
};

// Each line of what quorin said is short, and holds no control character but its end.
void expectBoundedAndEscaped(const std::string& output) {
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LT(line.size(), 600u) << line.substr(0, 600);
    for (unsigned char c : line) ASSERT_FALSE(c < 0x20 || c == 0x7f) << line;
  }
}

struct Flood {
  const char* name;
  std::string command;  // the one the server floods in answer to
  std::string head;
  std::vector<std::string> arguments;
  int status;
  std::string said;
};

void PrintTo(const Flood& flood, std::ostream* out) {
  *out << flood.name;
}

class EndlessReplyCliTest : public CloudHostileServerTest,
                            public ::testing::WithParamInterface<Flood> {};

INSTANTIATE_TEST_SUITE_P(
    Floods, EndlessReplyCliTest,
    ::testing::Values(
        Flood{"SetGigabyteString",
              "FCALL",
              "$1000000000\r\n",
              {"set", "k", "v"},
              0,
              "kept on this device; offline: the server's reply announces a string of "
              "1000000000 bytes"},
        Flood{"SetEndlessLine",
              "FCALL",
              "+",
              {"set", "k", "v"},
              0,
              "kept on this device; offline: the server's reply is longer than 1179648 bytes"},
        Flood{"SetFloodedPing",
              "PING",
              "$1000000000\r\n",
              {"set", "k", "v"},
              0,
              "offline: the server's reply announces a string of 1000000000 bytes"},
        Flood{"StatusGigabyteString",
              "FCALL_RO",
              "$1000000000\r\n",
              {"status"},
              0,
              "connection: offline: the server's reply announces a string of 1000000000"},
        Flood{"StatusEndlessLine",
              "FCALL_RO",
              "-ERR ",
              {"status"},
              0,
              "connection: offline: the server's reply is longer than 1179648 bytes"},
        Flood{"GetFloodedSubscription",
              "SUBSCRIBE",
              "*3\r\n$9\r\nsubscribe\r\n$18\r\nquorin:{x}:changes\r\n:1\r\n"
              "*3\r\n$7\r\nmessage\r\n$18\r\nquorin:{x}:changes\r\n$4000000000\r\n",
              {"get", "k", "--timeout", "1"},
              1,
              "no value for 'k'"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_P(EndlessReplyCliTest, EndsWithinItsMemoryAndSaysWhy) {
  const auto& flood = GetParam();
  long allowed = kPeakKilobytes;
  if (kSanitized) {
    FakeRedisServer polite(FakeRedisServer::polite);
    allowed += cloud(polite, flood.arguments).peakKilobytes;
  }
  FakeRedisServer server(answering(flood.command, Answer::flood(flood.head, kFlood)));
  auto run = cloud(server, flood.arguments);
  EXPECT_EQ(run.status, flood.status) << run.output;
  EXPECT_LT(run.peakKilobytes, allowed);
  EXPECT_TRUE(contains(run.output, flood.said)) << run.output;
  expectBoundedAndEscaped(run.output);
}

TEST_F(CloudHostileServerTest, TheServersWordsAreBoundedAndEscaped) {
  auto words =
      "-ERR \x1b[2J\x1b]0;owned\x07" + std::string("\0", 1) + std::string(3000, 'A') + "\r\n";
  FakeRedisServer server(answering("FCALL", Answer::send(words)));
  auto set = cloud(server, {"set", "k", "v"});
  EXPECT_EQ(set.status, 0) << set.output;
  EXPECT_TRUE(contains(set.output, "ERR \\x1b[2J\\x1b]0;owned\\x07\\x00AAA")) << set.output;
  expectBoundedAndEscaped(set.output);
  auto status = cloud(server, {"status"});
  EXPECT_TRUE(contains(status.output,
                       "connection: offline: the server refused the writes: ERR "
                       "\\x1b[2J"))
      << status.output;
  expectBoundedAndEscaped(status.output);
}

// A push the server answers with anything but an outcome per write applied nothing.
TEST_F(CloudHostileServerTest, AWrongReplyToAPushKeepsTheWriteWaiting) {
  for (const std::string reply : {"*1\r\n$1\r\n0\r\n", "*1\r\n$-1\r\n", "*1\r\n*1\r\n:0\r\n",
                                  "*2\r\n:0\r\n:0\r\n", "+OK\r\n"}) {
    FakeRedisServer server(answering("FCALL", Answer::send(reply)));
    auto set = cloud(server, {"set", "k", "v"});
    EXPECT_EQ(set.status, 0) << set.output;
    EXPECT_TRUE(contains(set.output, "kept on this device; offline: ")) << set.output;
    EXPECT_TRUE(contains(set.output, "1 write(s) will be pushed once the account is back"))
        << set.output;
    auto status = cloud(server, {"status"});
    EXPECT_TRUE(contains(status.output, "pendingWrites: 1\n")) << status.output;
    EXPECT_TRUE(contains(status.output, "connection: offline: the server")) << status.output;
  }
}

TEST_F(CloudHostileServerTest, ABusyOrFullServerKeepsTheWriteAndExitsWith0) {
  for (const std::string error :
       {"BUSY Redis is busy running a script.", "LOADING Redis is loading the dataset in memory",
        "OOM command not allowed when used memory > 'maxmemory'.",
        "READONLY You can't write against a read only replica."}) {
    FakeRedisServer server(answering("FCALL", Answer::send("-" + error + "\r\n")));
    auto set = cloud(server, {"set", "k", "v"});
    EXPECT_EQ(set.status, 0) << set.output;
    EXPECT_TRUE(contains(set.output,
                         "kept on this device; offline: the server refused the "
                         "writes: " +
                             error))
        << set.output;
  }
  FakeRedisServer full([](const Command& command) {
    return command.empty() ? Answer::sendAndClose("-ERR max number of clients reached\r\n")
                           : FakeRedisServer::polite(command);
  });
  auto set = cloud(full, {"set", "k", "v"});
  EXPECT_EQ(set.status, 0) << set.output;
  EXPECT_TRUE(contains(set.output, "max number of clients reached")) << set.output;
}

// A cluster node that serves every slot itself, and answers `name` with `error`. Its port is
// known only once it listens, and is read on the server's thread.
FakeRedisServer::Script downCluster(const std::atomic<int>& port, const std::string& name,
                                    const std::string& error) {
  return [&port, name, error](const Command& command) {
    if (!command.empty() && command[0] == name) return Answer::send("-" + error + "\r\n");
    if (command.size() == 2 && command[0] == "CLUSTER" && command[1] == "NODES")
      return Answer::send(quorin::testing::bulk("e7d1 127.0.0.1:" + std::to_string(port.load()) +
                                                "@1 myself,master - 0 0 1 connected 0-16383\n"));
    return FakeRedisServer::polite(command);
  };
}

TEST_F(CloudHostileServerTest, ADownClusterKeepsTheWriteAndExitsWith0) {
  for (const std::string command : {"FCALL", "CLUSTER", "TIME"}) {
    std::atomic<int> port = 0;
    FakeRedisServer server(downCluster(port, command, "CLUSTERDOWN The cluster is down"));
    port = server.port();
    auto set = cloud(server, {"set", "k", "v"});
    EXPECT_EQ(set.status, 0) << command << ": " << set.output;
    EXPECT_TRUE(contains(set.output, "kept on this device; offline: ")) << set.output;
    EXPECT_TRUE(contains(set.output, "CLUSTERDOWN The cluster is down")) << set.output;
    auto status = cloud(server, {"status"});
    EXPECT_EQ(status.status, 0) << command << ": " << status.output;
    EXPECT_TRUE(contains(status.output, "CLUSTERDOWN")) << status.output;
  }
}

TEST_F(CloudHostileServerTest, AValueNotFoundWhileTheAccountIsOutOfReachSaysSo) {
  FakeRedisServer server(answering("TIME", Answer::send("-CLUSTERDOWN The cluster is down\r\n")));
  auto get = cloud(server, {"get", "k", "--timeout", "0"});
  EXPECT_EQ(get.status, 1) << get.output;
  EXPECT_TRUE(contains(get.output, "no value for 'k' in the cloud account")) << get.output;
  EXPECT_TRUE(contains(get.output, "out of reach, so only this device's copy was read: "))
      << get.output;
  EXPECT_TRUE(contains(get.output, "CLUSTERDOWN")) << get.output;
}

TEST_F(CloudHostileServerTest, AServerWithoutTheFunctionsIsUnusableUntilProvisioned) {
  FakeRedisServer server(answering("FCALL", Answer::send("-ERR Function not found\r\n")));
  auto set = cloud(server, {"set", "k", "v"});
  EXPECT_EQ(set.status, 2) << set.output;
  EXPECT_TRUE(contains(set.output, "kept on this device only, the cloud account is unusable: "))
      << set.output;
  EXPECT_TRUE(contains(set.output, "run quorin cloud provision-account")) << set.output;
}

TEST_F(CloudHostileServerTest, APlainServerNamedByRedissIsUnusable) {
  FakeRedisServer server(FakeRedisServer::polite);
  auto set = cloud(server, {"set", "k", "v"}, "rediss");
  EXPECT_EQ(set.status, 2) << set.output;
  EXPECT_TRUE(contains(set.output, "the server does not speak TLS")) << set.output;
}

}  // namespace
