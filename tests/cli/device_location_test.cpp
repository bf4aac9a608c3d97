// Where quorin finds the device and its cloud account, and what it refuses to invent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "cli/cli_run.hpp"
#include "support/redis_server.hpp"
#include "support/temporary_directory.hpp"

namespace {

using quorin::testing::contains;
using quorin::testing::quorinOn;
using quorin::testing::run;
using quorin::testing::TemporaryDirectory;

class DeviceLocationTest : public ::testing::Test {
 protected:
  std::string on(const std::filesystem::path& container) const {
    return quorinOn(container, (root.path() / "account").string()) + "--key-store key-file ";
  }
  // quorin run from inside the test's directory, so that anything made relative lands there.
  std::string inRoot(const std::string& account) const {
    return "cd '" + root.path().string() + "' && " + quorinOn(root.path() / "device", account) +
           "--key-store key-file ";
  }
  TemporaryDirectory root;
};

TEST_F(DeviceLocationTest, ANewContainerIsMadeOnlyInADirectoryThatExistsAndSaysSo) {
  auto mistyped = run(on(root.path() / "typo" / "deep" / "device") + "keychain set k v 2>&1");
  EXPECT_EQ(mistyped.status, 2);
  EXPECT_TRUE(contains(mistyped.output, "parent directory")) << mistyped.output;
  EXPECT_FALSE(std::filesystem::exists(root.path() / "typo"));

  auto fresh = run(on(root.path() / "device") + "info 2>&1 >/dev/null");
  EXPECT_EQ(fresh.status, 0);
  EXPECT_EQ(fresh.output,
            "quorin: made a new device at " + (root.path() / "device").string() + "\n");
  EXPECT_EQ(run(on(root.path() / "device") + "info 2>&1 >/dev/null").output, "")
      << "only a new device is announced";
}

// A trailing slash names the same directory; a refused container leaves nothing behind, in
// the container's place or the account's.
TEST_F(DeviceLocationTest, OneRuleForAContainerWithOrWithoutATrailingSlash) {
  for (std::string command : {"info", "keychain set k v", "cloud set k v", "migrate"}) {
    auto refused = run(on(root.path().string() + "/typo/deep/") + command + " 2>&1");
    EXPECT_EQ(refused.status, 2) << command;
    EXPECT_TRUE(contains(refused.output,
                         "its parent directory " + root.path().string() + "/typo does not exist"))
        << refused.output;
  }
  EXPECT_TRUE(std::filesystem::is_empty(root.path()));

  auto made = run(on(root.path().string() + "/device/") + "keychain set k v 2>&1");
  EXPECT_EQ(made.status, 0) << made.output;
  EXPECT_EQ(made.output, "quorin: made a new device at " + root.path().string() + "/device/\n");
  EXPECT_EQ(run(on(root.path() / "device") + "keychain get k").output, "v\n");
}

TEST_F(DeviceLocationTest, AMistypedAccountDirectoryIsRefusedNotMade) {
  auto typo = (root.path() / "typo" / "deep" / "account").string();
  for (std::string command : {"cloud set k v", "cloud status", "cloud get k --timeout 0"}) {
    auto refused = run(inRoot(typo) + command + " 2>&1");
    EXPECT_EQ(refused.status, 2) << command;
    EXPECT_TRUE(contains(refused.output, "its parent directory " + root.path().string() +
                                             "/typo/deep does not exist"))
        << refused.output;
  }
  EXPECT_EQ(run(inRoot(typo) + "info >/dev/null 2>&1").status, 0);
  EXPECT_FALSE(std::filesystem::exists(root.path() / "typo"));
  ASSERT_EQ(run(inRoot("fresh/") + "cloud set k v 2>/dev/null").status, 0);
  EXPECT_TRUE(std::filesystem::exists(root.path() / "fresh" / "cloud.db"));
}

TEST_F(DeviceLocationTest, AContainerThatIsNoDirectoryIsReportedAsSuch) {
  std::ofstream(root.path() / "file") << "not a device";
  auto result = run(on(root.path() / "file") + "info 2>&1");
  EXPECT_EQ(result.status, 2);
  EXPECT_TRUE(contains(result.output, "the device container " + (root.path() / "file").string() +
                                          " is not a directory"))
      << result.output;
  EXPECT_FALSE(contains(result.output, "property-list")) << result.output;
}

TEST_F(DeviceLocationTest, AUrlOfAnUnsupportedSchemeIsRefusedNotMadeADirectory) {
  for (std::string url :
       {"rediss:/localhost:6380/0?account=a", "http://example.com/a", "redis:/a", "Ftp://x"}) {
    auto result = run(inRoot(url) + "cloud status 2>&1");
    EXPECT_EQ(result.status, 2) << url;
    EXPECT_TRUE(contains(result.output, "supported scheme (redis://, rediss:// or unix://)"))
        << result.output;
  }
  EXPECT_FALSE(std::filesystem::exists(root.path() / "device"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.path()), {}), 0)
      << "nothing named like a URL under the working directory";
}

TEST_F(DeviceLocationTest, APathWithAColonStillNamesADirectory) {
  auto result = run(inRoot("./accounts:2024") + "cloud set k v");
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(std::filesystem::is_directory(root.path() / "accounts:2024"));
}

TEST_F(DeviceLocationTest, SchemesAreCaseInsensitive) {
  auto socket = quorin::testing::sharedRedisSocket();
  if (!socket) {
    if (std::getenv("QRN_REQUIRE_REDIS")) FAIL() << "no Redis server";
    GTEST_SKIP() << "no redis-server on this machine";
  }
  auto account = "?account=" + quorin::testing::freshAccountName("scheme-case");
  ASSERT_EQ(run(inRoot("UNIX://" + socket->string() + account) + "cloud set k v").status, 0);
  auto got = run(inRoot("unix://" + socket->string() + account) + "cloud get k --timeout 0");
  EXPECT_EQ(got.output, "v\n");
  auto status = run(inRoot("UNIX://" + socket->string() + account) + "cloud status");
  EXPECT_TRUE(contains(status.output, "backend: redis\n")) << status.output;
}

}  // namespace
