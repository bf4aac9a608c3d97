// The in-place sealing of an unsealed keychain, killed at random points by SIGKILL.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>

#include "support/temporary_directory.hpp"
#include "support/unsealed_keychain.hpp"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string output(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  std::string text;
  std::array<char, 4096> buffer;
  std::size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0)
    text.append(buffer.data(), got);
  return text;
}

pid_t startStatus(const std::filesystem::path& container) {
  std::string path = QUORIN_CLI_PATH, containerText = container.string();
  std::array<char*, 8> argv{path.data(),
                            const_cast<char*>("--container"),
                            containerText.data(),
                            const_cast<char*>("--key-store"),
                            const_cast<char*>("key-file"),
                            const_cast<char*>("keychain"),
                            const_cast<char*>("status"),
                            nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

TEST(KeychainUpgradeTest, AKilledUpgradeLeavesEveryItemReadableUnderOneKey) {
  constexpr int kItems = 400;
  std::vector<std::pair<std::string, std::string>> items;
  for (int i = 0; i < kItems; ++i)
    items.emplace_back("k" + std::to_string(i), "value-" + std::to_string(i));

  // How long one whole upgrade takes, so that the kills fall across all of it.
  quorin::testing::TemporaryDirectory timed;
  quorin::testing::writeUnsealedKeychain(timed.path() / "Library/Keychains/keychain.db", items);
  auto started = Clock::now();
  pid_t whole = startStatus(timed.path());
  ASSERT_GT(whole, 0);
  int status = 0;
  waitpid(whole, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  auto span = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);

  std::mt19937 random(20261207);
  for (int round = 0; round < 12; ++round) {
    quorin::testing::TemporaryDirectory device;
    quorin::testing::writeUnsealedKeychain(device.path() / "Library/Keychains/keychain.db", items);
    pid_t child = startStatus(device.path());
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (span.count() + 1)));
    ::kill(child, SIGKILL);
    waitpid(child, &status, 0);

    std::string quorin = std::string(QUORIN_CLI_PATH) + " --container '" + device.path().string() +
                         "' --key-store key-file keychain ";
    auto listing = output(quorin + "list --service svc");
    for (const auto& [key, value] : items)
      ASSERT_NE(listing.find(key + "\t" + value + "\n"), std::string::npos)
          << "round " << round << ": " << key << " in\n"
          << listing;
    EXPECT_NE(output(quorin + "status").find("items: 400\n"), std::string::npos);
  }
}

}  // namespace
