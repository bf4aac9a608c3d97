#include <gtest/gtest.h>
#include <signal.h>
#include <simdjson.h>
#include <sys/wait.h>

#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "cli/cli_run.hpp"
#include "support/hostile_plists.hpp"
#include "support/password_shape.hpp"
#include "support/redis_server.hpp"
#include "support/temporary_directory.hpp"

namespace {

using quorin::testing::finish;
using quorin::testing::quorin;
using quorin::testing::run;
using quorin::testing::Run;

// Whether process `pid` holds the account database open.
bool hasOpen(const std::string& pid, const std::string& name) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + pid + "/fd", error)) {
    auto target = std::filesystem::read_symlink(entry.path(), error);
    if (!error && target.filename() == name) return true;
  }
  return false;
}

TEST(QuorinCliTest, InfoJsonOnAFreshContainerHasEveryFact) {
  quorin::testing::TemporaryDirectory container;
  auto first = run(quorin(container) + "info --json --scheme 'not a url'");
  ASSERT_EQ(first.status, 0) << first.output;

  simdjson::dom::parser parser;
  simdjson::dom::element facts;
  ASSERT_EQ(parser.parse(first.output).get(facts), simdjson::SUCCESS) << first.output;
  for (auto key : {"deviceModel", "osVersion", "buildNumber", "languageWithRegion",
                   "encodedDeviceIdentifier", "idfv"}) {
    EXPECT_TRUE(facts[key].is_string()) << key;
  }
  EXPECT_TRUE(facts["isTablet"].is_bool());
  EXPECT_TRUE(facts["idfa"].is_null()) << "tracking is not authorised on a new device";
  EXPECT_EQ(std::string_view(facts["storeCountry"].get_string().value()), "USA");
  EXPECT_FALSE(facts["isApplicationInstalled"]["not a url"].get_bool().value());
  std::string idfv(facts["idfv"].get_string().value());
  EXPECT_EQ(idfv.size(), 36u);

  auto second = run(quorin(container) + "info --json");
  ASSERT_EQ(second.status, 0);
  simdjson::dom::element again;
  ASSERT_EQ(parser.parse(second.output).get(again), simdjson::SUCCESS);
  EXPECT_EQ(std::string_view(again["idfv"].get_string().value()), idfv)
      << "the vendor identifier is generated once";
}

TEST(QuorinCliTest, EventsRelaysHostLinesAsCallbacks) {
  quorin::testing::TemporaryDirectory container;
  auto result =
      run("printf 'foreground\\nstorefront JPN 143462\\nresign\\nquit\\nbackground\\n' | " +
          quorin(container) + "events");
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(result.output,
            "ready USA\n"
            "onApplicationEnterForeground\n"
            "storefront JPN\n"
            "onApplicationWillResignActive\n");
}

TEST(QuorinCliTest, MigratesTheExampleLegacyDeviceThenClearsIt) {
  quorin::testing::TemporaryDirectory root;
  std::filesystem::copy(QUORIN_EXAMPLE_CONTAINER, root.path() / "device",
                        std::filesystem::copy_options::recursive);
  auto collected = run(quorin(root) + "--json migrate");
  ASSERT_EQ(collected.status, 0) << collected.output;
  simdjson::dom::parser parser;
  simdjson::dom::element documents;
  ASSERT_EQ(parser.parse(collected.output).get(documents), simdjson::SUCCESS) << collected.output;
  auto general = documents["generalInfo"];
  EXPECT_EQ(std::string_view(general["clientId"].get_string().value()),
            "8C1F6E52-3B7A-4D0E-9F21-6A5D2C4B7E90");
  EXPECT_EQ(general["sessionVersionAgnosticCounter"].get_int64().value(), 42)
      << "the legacy domain's session counter";
  EXPECT_EQ(documents["cachedAnalytics"]["pending_uploads"].get_int64().value(), 1);
  EXPECT_EQ(documents["ltoInfo"].get_array().size(), 2u);
  EXPECT_TRUE(documents["counters"]["LtoActivationPerTriggerGlobalCounter"].is_object());
  EXPECT_EQ(documents["context"].get_object().size(), 6u);

  auto cleared = run(quorin(root) + "migrate --clear");
  ASSERT_EQ(cleared.status, 0) << cleared.output;
  EXPECT_NE(cleared.output.find("ltoInfo: 311 bytes, 2 elements"), std::string::npos)
      << cleared.output;
  auto library = root.path() / "device" / "Library";
  for (auto name : {"campaigns", "installedApps", "mediaSource", "campings_legacy",
                    "Preferences/com.corvasta.morvent.plist"})
    EXPECT_FALSE(std::filesystem::exists(library / name)) << name;
  auto kept = run(quorin(root) + "keychain get SharedIdentifier --service com.corvasta.morvent");
  EXPECT_EQ(kept.output, "8C1F6E52-3B7A-4D0E-9F21-6A5D2C4B7E90\n");

  auto empty = run(quorin(root) + "migrate");
  EXPECT_EQ(empty.status, 0);
  EXPECT_NE(empty.output.find("context: not written"), std::string::npos) << empty.output;
}

// A recursive reader would crash on any of these before the command even started.
TEST(QuorinCliTest, PlistsNestedTooDeepReadAsAbsentWhateverTheCommand) {
  quorin::testing::TemporaryDirectory root;
  auto device = root.path() / "device";
  auto preferences = device / "Library" / "Preferences";
  std::filesystem::create_directories(preferences);
  auto deepXml = quorin::testing::deepXmlPlist(100'000);
  auto deepBinary = quorin::testing::deepBinaryPlist(100'000);
  auto write = [](const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  };
  write(device / "device.plist", deepXml);
  write(root.path() / "Info.plist", deepBinary);
  write(preferences / "com.vendexa.iossdk.plist", deepBinary);
  write(preferences / "com.corvasta.morvent.plist", deepXml);
  auto host = quorin(root) + "--info-plist '" + (root.path() / "Info.plist").string() + "' ";

  auto info = run(host + "--json info");
  ASSERT_EQ(info.status, 0) << info.output;
  simdjson::dom::parser parser;
  simdjson::dom::element facts;
  ASSERT_EQ(parser.parse(info.output).get(facts), simdjson::SUCCESS) << info.output;
  EXPECT_EQ(std::string_view(facts["osVersion"].get_string().value()), "17.0") << "the default";
  EXPECT_EQ(run(host + "keychain set k v").status, 0);
  EXPECT_EQ(run(host + "keychain get k").output, "v\n");
  auto migrated = run(host + "migrate 2>&1");
  EXPECT_EQ(migrated.status, 2) << "the suites were there and could not be read";
  EXPECT_NE(migrated.output.find("com.corvasta.morvent.plist is not a property list"),
            std::string::npos)
      << migrated.output;

  std::ifstream kept(device / "device.plist", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), deepXml) << "left as it is";
}

TEST(QuorinCliTest, SharedWebCredentialsAndGeneratedPasswords) {
  quorin::testing::TemporaryDirectory root;
  auto shared = quorin(root) + "keychain shared ";
  EXPECT_EQ(run(shared + "set --server https://example.com/login --account ann 's3 cret'").status,
            0);
  auto found = run(quorin(root) + "--json keychain shared get --server https://example.com");
  ASSERT_EQ(found.status, 0);
  EXPECT_EQ(found.output, "{\"account\":\"ann\",\"password\":\"s3 cret\"}\n");
  EXPECT_EQ(run(shared + "get --server https://other.org").status, 1);
  EXPECT_EQ(run(shared + "remove --server https://example.com --account ann").status, 0);
  EXPECT_EQ(run(shared + "get --server https://example.com --account ann").status, 1);
  EXPECT_EQ(run(shared + "remove --server https://example.com --account ann").status, 1);
  EXPECT_EQ(run(shared + "get --server 'not a url' 2>/dev/null").status, 2);
  EXPECT_EQ(run(shared + "set --server https://example.com 2>/dev/null").status, 2)
      << "--account is required";

  auto generated = run(quorin(root) + "keychain generate-password");
  ASSERT_EQ(generated.status, 0);
  ASSERT_FALSE(generated.output.empty());
  EXPECT_EQ(generated.output.back(), '\n');
  EXPECT_TRUE(
      quorin::testing::hasPasswordShape(generated.output.substr(0, generated.output.size() - 1)))
      << generated.output;
}

TEST(QuorinCliTest, UnknownCommandFailsWithHelp) {
  quorin::testing::TemporaryDirectory container;
  auto result = run(quorin(container) + "frobnicate 2>&1");
  EXPECT_NE(result.status, 0);
  EXPECT_NE(result.output.find("info"), std::string::npos) << result.output;
}

TEST(QuorinCliTest, CloudValuesTravelBetweenDevicesOfOneAccount) {
  quorin::testing::TemporaryDirectory root;
  ASSERT_EQ(run(quorin(root, "phone") + "cloud set greeting 'hello there'").status, 0);
  auto read = run(quorin(root, "tablet") + "cloud get greeting --timeout 0");
  EXPECT_EQ(read.status, 0);
  EXPECT_EQ(read.output, "hello there\n");
  auto json = run(quorin(root, "tablet") + "--json cloud get greeting");
  EXPECT_EQ(json.output, "{\"key\":\"greeting\",\"value\":\"hello there\"}\n");

  ASSERT_EQ(run(quorin(root, "tablet") + "cloud remove greeting").status, 0);
  auto gone = run(quorin(root, "phone") + "cloud get greeting --timeout 0 2>&1");
  EXPECT_NE(gone.status, 0);
  EXPECT_EQ(gone.output, "quorin: no value for 'greeting' in the cloud account\n");

  auto refused = run(quorin(root, "phone") + "cloud set " + std::string(65, 'k') + " v 2>&1");
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.output.find("refused"), std::string::npos) << refused.output;
  EXPECT_EQ(run(quorin(root, "phone") + "cloud get k --timeout -1 2>&1").status, 2);
}

// A `cloud get` waiting in a process of its own.
class WaitingGet {
 public:
  explicit WaitingGet(const std::string& command)
      : pipe_(::popen(("echo $$; exec " + command).c_str(), "r"), ::pclose) {
    std::array<char, 64> line{};
    if (std::fgets(line.data(), line.size(), pipe_.get()))
      pid_.assign(line.data(), std::strcspn(line.data(), "\n"));
  }

  // A reader whose answer nobody took, after a failed assertion, is not waited for.
  ~WaitingGet() {
    if (pipe_ && !pid_.empty()) ::kill(std::stoi(pid_), SIGKILL);
  }
  WaitingGet(const WaitingGet&) = delete;
  WaitingGet& operator=(const WaitingGet&) = delete;

  const std::string& pid() const { return pid_; }

  Run answer() { return finish(pipe_.release()); }

 private:
  std::unique_ptr<FILE, int (*)(FILE*)> pipe_;
  std::string pid_;
};

// How soon the answer comes is measured by cloud_sync_bench, not asserted here.
TEST(QuorinCliTest, AWaitingCloudGetAnswersWhenAnotherProcessSets) {
  quorin::testing::TemporaryDirectory root;
  WaitingGet reader(quorin(root, "tablet") + "cloud get k --timeout 10");
  // The reader has made its first exchange with the account once it holds the database.
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!hasOpen(reader.pid(), "cloud.db") && std::chrono::steady_clock::now() < limit)
    std::this_thread::yield();
  ASSERT_TRUE(hasOpen(reader.pid(), "cloud.db"));

  ASSERT_EQ(run(quorin(root, "phone") + "cloud set k v").status, 0);
  auto answer = reader.answer();
  EXPECT_EQ(answer.status, 0);
  EXPECT_EQ(answer.output, "v\n");
}

// A time-out longer than the clock can add to the time now is cut, not turned into none.
TEST(QuorinCliTest, AHugeTimeOutStillWaitsForTheValue) {
  quorin::testing::TemporaryDirectory root;
  WaitingGet reader(quorin(root, "tablet") + "cloud get k --timeout 9.3e9");
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!hasOpen(reader.pid(), "cloud.db") && std::chrono::steady_clock::now() < limit)
    std::this_thread::yield();
  ASSERT_TRUE(hasOpen(reader.pid(), "cloud.db"));

  ASSERT_EQ(run(quorin(root, "phone") + "cloud set k later").status, 0);
  auto answer = reader.answer();
  EXPECT_EQ(answer.status, 0);
  EXPECT_EQ(answer.output, "later\n");
}

class QuorinRedisCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto shared = quorin::testing::sharedRedisSocket();
    if (!shared) {
      if (std::getenv("QRN_REQUIRE_REDIS")) FAIL() << "no Redis server";
      GTEST_SKIP() << "no redis-server on this machine";
    }
    socket_ = *shared;
  }

  std::string sharedAccount(const std::string& stem) const {
    return "unix://" + socket_.string() + "?account=" + quorin::testing::freshAccountName(stem);
  }

  std::filesystem::path socket_;
};

// How many devices listen for the account's changes.
int listeners(const std::filesystem::path& socket, const std::string& url) {
  auto account = url.substr(url.find("account=") + 8);
  auto answer = run("redis-cli -s '" + socket.string() + "' PUBSUB NUMSUB 'quorin:{" + account +
                    "}:changes'");
  auto count = answer.output.substr(answer.output.find('\n') + 1);
  return std::atoi(count.c_str());
}

// How soon the answer comes is measured by cloud_sync_bench, not asserted here.
TEST_F(QuorinRedisCliTest, AWaitingCloudGetAnswersWhenAnotherProcessSets) {
  quorin::testing::TemporaryDirectory root;
  auto account = sharedAccount("cli-wait");
  std::filesystem::create_directory(root.path() / "phone");  // not announced as a new device
  WaitingGet reader(quorin(root, "tablet", account) + "cloud get k --timeout 10");
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (listeners(socket_, account) < 1 && std::chrono::steady_clock::now() < limit)
    std::this_thread::yield();
  ASSERT_EQ(listeners(socket_, account), 1);

  auto set = run(quorin(root, "phone", account) + "cloud set k 'from the phone' 2>&1");
  ASSERT_EQ(set.status, 0) << set.output;
  EXPECT_EQ(set.output, "");
  auto answer = reader.answer();
  EXPECT_EQ(answer.status, 0);
  EXPECT_EQ(answer.output, "from the phone\n");
}

TEST_F(QuorinRedisCliTest, WritesMadeOfflineWaitOnTheDeviceUntilTheServerIsBack) {
  quorin::testing::TemporaryDirectory root;
  quorin::testing::RedisServer server(root.path());
  auto account = server.url("offline");

  auto set = run(quorin(root, "phone", account) + "cloud set k 'written offline' 2>&1");
  EXPECT_EQ(set.status, 0) << set.output;
  EXPECT_NE(set.output.find("kept on this device"), std::string::npos) << set.output;
  auto offline = run(quorin(root, "phone", account) + "cloud status");
  EXPECT_EQ(offline.status, 0);
  EXPECT_NE(offline.output.find("backend: redis\n"), std::string::npos) << offline.output;
  EXPECT_NE(offline.output.find("connection: offline"), std::string::npos) << offline.output;
  EXPECT_NE(offline.output.find("pendingWrites: 1\n"), std::string::npos) << offline.output;
  EXPECT_NE(offline.output.find("lastSync: never\n"), std::string::npos) << offline.output;
  auto local = run(quorin(root, "phone", account) + "cloud get k --timeout 0");
  EXPECT_EQ(local.output, "written offline\n") << "reads answer from the device's copy";

  ASSERT_TRUE(server.start());
  auto online = run(quorin(root, "phone", account) + "--json cloud status");
  EXPECT_EQ(online.status, 0);
  simdjson::dom::parser parser;
  simdjson::dom::element report;
  ASSERT_EQ(parser.parse(online.output).get(report), simdjson::SUCCESS) << online.output;
  EXPECT_TRUE(report["connected"].get_bool().value());
  EXPECT_EQ(report["pendingWrites"].get_int64().value(), 0);
  EXPECT_TRUE(report["lastSync"].is_string());
  auto other = run(quorin(root, "tablet", account) + "cloud get k --timeout 0");
  EXPECT_EQ(other.output, "written offline\n");
}

TEST_F(QuorinRedisCliTest, AWrongPasswordIsAClearErrorAndWritesNothing) {
  quorin::testing::TemporaryDirectory root;
  quorin::testing::RedisServer server(root.path(), "right-password");
  ASSERT_TRUE(server.start());
  auto wrong = server.url("guarded", ":wrong-password@");

  auto set = run(quorin(root, "phone", wrong) + "cloud set k v 2>&1");
  EXPECT_EQ(set.status, 2);
  EXPECT_NE(set.output.find("cloud account unusable"), std::string::npos) << set.output;
  EXPECT_EQ(set.output.find("wrong-password"), std::string::npos) << "the password is masked";
  auto status = run(quorin(root, "phone", wrong) + "cloud status");
  EXPECT_EQ(status.status, 2);
  EXPECT_NE(status.output.find("connection: unusable"), std::string::npos) << status.output;
  EXPECT_NE(status.output.find("pendingWrites: 0\n"), std::string::npos) << status.output;

  auto right = server.url("guarded", ":right-password@");
  EXPECT_EQ(run(quorin(root, "phone", right) + "cloud get k --timeout 0").status, 1);
  ASSERT_EQ(run(quorin(root, "phone", right) + "cloud set k v").status, 0);
  EXPECT_EQ(run(quorin(root, "tablet", right) + "cloud get k --timeout 0").output, "v\n");
}

}  // namespace
