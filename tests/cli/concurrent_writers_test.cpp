// Many `quorin` processes writing one new account and one new keychain at once, some of them
// changing the keychain's key: every write that exited 0 is there afterwards.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_run.hpp"
#include "support/temporary_directory.hpp"

namespace {

using quorin::testing::finish;
using quorin::testing::Run;

// Commands started together, each answered once all of them have been started.
std::vector<Run> runTogether(const std::vector<std::string>& commands) {
  std::vector<FILE*> pipes;
  for (const auto& command : commands) pipes.push_back(::popen((command + " 2>&1").c_str(), "r"));
  std::vector<Run> runs;
  for (FILE* pipe : pipes) runs.push_back(finish(pipe));
  return runs;
}

Run run(const std::string& command) {
  return runTogether({command}).front();
}

std::string quorin(const std::filesystem::path& container, const std::filesystem::path& account) {
  return quorin::testing::quorinOn(container, account.string()) + "--key-store key-file ";
}

TEST(ConcurrentWritersTest, EveryCloudAndKeychainWriteThatSucceededIsKept) {
  constexpr int kWriters = 4;
  for (int round = 0; round < 25; ++round) {
    quorin::testing::TemporaryDirectory root;
    auto account = root.path() / "account";
    auto shared = root.path() / "shared";
    std::vector<std::string> commands;
    for (int i = 0; i < kWriters; ++i) {
      auto device = root.path() / ("device" + std::to_string(i));
      commands.push_back(quorin(device, account) + "cloud set k" + std::to_string(i) + " v" +
                         std::to_string(i));
      commands.push_back(quorin(shared, account) + "keychain set k" + std::to_string(i) + " v" +
                         std::to_string(i));
    }
    auto runs = runTogether(commands);

    std::filesystem::create_directory(root.path() / "reader");  // not announced as new
    auto reader = quorin(root.path() / "reader", account);
    for (int i = 0; i < kWriters; ++i) {
      auto key = "k" + std::to_string(i);
      auto expected = "v" + std::to_string(i) + "\n";
      const auto& cloud = runs[2 * i];
      const auto& keychain = runs[2 * i + 1];
      EXPECT_EQ(cloud.status, 0) << "round " << round << ": " << cloud.output;
      EXPECT_EQ(keychain.status, 0) << "round " << round << ": " << keychain.output;
      if (cloud.status == 0) {
        EXPECT_EQ(run(reader + "cloud get " + key + " --timeout 0").output, expected)
            << "round " << round << ": a cloud write that exited 0 is lost";
      }
      if (keychain.status == 0) {
        EXPECT_EQ(run(quorin(shared, account) + "keychain get " + key).output, expected)
            << "round " << round << ": a keychain write that exited 0 is lost";
      }
    }
    if (HasFailure()) return;
  }
}

TEST(ConcurrentWritersTest, RotationsAndWritesAtOnceLoseNothing) {
  for (int round = 0; round < 25; ++round) {
    quorin::testing::TemporaryDirectory root;
    auto device = quorin(root.path() / "device", root.path() / "account");
    ASSERT_EQ(run(device + "keychain set kept before").status, 0);

    auto runs = runTogether({device + "keychain rotate-key", device + "keychain set written now",
                             device + "keychain rotate-key"});
    for (const auto& rotation : {runs[0], runs[2]})
      EXPECT_EQ(rotation.status, 0) << "round " << round << ": " << rotation.output;
    EXPECT_EQ(runs[1].status, 0) << "round " << round << ": " << runs[1].output;

    auto kept = run(device + "keychain get kept");
    EXPECT_EQ(kept.output, "before\n") << "round " << round << ": the keychain is lost";
    if (runs[1].status == 0) {
      EXPECT_EQ(run(device + "keychain get written").output, "now\n")
          << "round " << round << ": a write that exited 0 does not open";
    }
    EXPECT_EQ(run(device + "keychain status").status, 0) << "round " << round;
    if (HasFailure()) return;
  }
}

TEST(ConcurrentWritersTest, NoDatabaseIsWrittenThroughASymbolicLink) {
  quorin::testing::TemporaryDirectory root;
  auto outside = root.path() / "outside";
  std::filesystem::create_directories(outside);
  auto account = root.path() / "account";

  // A keychain database linked to a file elsewhere.
  auto keychains = root.path() / "linked" / "Library" / "Keychains";
  std::filesystem::create_directories(keychains);
  {
    std::FILE* target = std::fopen((outside / "target.db").c_str(), "w");
    std::fclose(target);
  }
  std::filesystem::permissions(outside / "target.db", std::filesystem::perms(0644));
  std::filesystem::create_symlink(outside / "target.db", keychains / "keychain.db");
  auto set = run(quorin(root.path() / "linked", account) + "keychain set k v");
  EXPECT_EQ(set.status, 2);
  EXPECT_NE(set.output.find("keychain.db is a symbolic link"), std::string::npos) << set.output;

  // A directory on the way to it linked elsewhere.
  std::filesystem::create_directories(root.path() / "redirected" / "Library");
  std::filesystem::create_directory_symlink(outside,
                                            root.path() / "redirected" / "Library" / "Keychains");
  set = run(quorin(root.path() / "redirected", account) + "keychain set k v");
  EXPECT_EQ(set.status, 2);
  EXPECT_NE(set.output.find("Keychains is a symbolic link"), std::string::npos) << set.output;

  // The directory account's database, a dangling link.
  auto dangling = root.path() / "dangling";
  std::filesystem::create_directories(dangling);
  std::filesystem::create_symlink(outside / "cloud.db", dangling / "cloud.db");
  auto cloud = run(quorin(root.path() / "device", dangling) + "cloud set k v");
  EXPECT_EQ(cloud.status, 2);
  EXPECT_NE(cloud.output.find("cloud.db is a symbolic link"), std::string::npos) << cloud.output;

  // The whole Library linked elsewhere: neither the cloud journal nor its device file.
  auto library = root.path() / "library";
  std::filesystem::create_directories(library);
  std::filesystem::create_directories(root.path() / "libraryLinked");
  std::filesystem::create_directory_symlink(library, root.path() / "libraryLinked" / "Library");
  cloud = run(quorin(root.path() / "libraryLinked", account) + "cloud set k v");
  EXPECT_EQ(cloud.status, 2) << cloud.output;
  EXPECT_TRUE(std::filesystem::is_empty(library)) << "nothing is made in the linked Library";

  std::vector<std::string> written;
  for (const auto& entry : std::filesystem::directory_iterator(outside))
    written.push_back(entry.path().filename().string());
  EXPECT_EQ(written, std::vector<std::string>{"target.db"}) << "nothing more is made outside";
  EXPECT_EQ(std::filesystem::file_size(outside / "target.db"), 0u);
  EXPECT_EQ(std::filesystem::status(outside / "target.db").permissions(),
            std::filesystem::perms(0644));
}

}  // namespace
