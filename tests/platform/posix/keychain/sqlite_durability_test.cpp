// Several processes on one keychain database, and a writer killed in the middle of its work.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/keychain/sqlite_keychain.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

formats::Dictionary itemQuery(const std::string& account) {
  return {{std::string(sec::kSecClass), std::string(sec::kSecClassGenericPassword)},
          {std::string(sec::kSecAttrService), "durable"},
          {std::string(sec::kSecAttrAccount), account}};
}

// A value whose every byte says which write made it, so a torn value shows.
formats::Data valueFor(int round) {
  return formats::Data(4096, static_cast<std::uint8_t>('a' + round % 26));
}

OSStatus store(SqliteKeychain& keychain, const std::string& account, int round) {
  formats::Dictionary changes{{std::string(sec::kSecValueData), valueFor(round)}};
  OSStatus status = keychain.secItemUpdate(itemQuery(account), changes);
  if (status != errSecItemNotFound) return status;
  formats::Dictionary item = itemQuery(account);
  item[std::string(sec::kSecValueData)] = valueFor(round);
  return keychain.secItemAdd(item);
}

// Runs `writer` in a child process that reports each finished write on `progress`.
pid_t spawnWriter(const std::filesystem::path& path, int progress, std::string prefix, int rounds) {
  pid_t child = ::fork();
  if (child != 0) return child;
  SqliteKeychain keychain(path);
  for (int round = 0; round < rounds; ++round) {
    if (store(keychain, prefix + std::to_string(round % 20), round) != errSecSuccess) ::_exit(2);
    char done = 1;
    if (progress >= 0 && ::write(progress, &done, 1) != 1) ::_exit(3);
  }
  ::_exit(0);
}

std::optional<formats::Data> read(SqliteKeychain& keychain, const std::string& account) {
  auto query = itemQuery(account);
  query[std::string(sec::kSecReturnData)] = true;
  std::optional<formats::Value> result;
  if (keychain.secItemCopyMatching(query, &result) != errSecSuccess) return std::nullopt;
  return *result->get<formats::Data>();
}

bool isWhole(const formats::Data& value) {
  return value.size() == 4096 && std::all_of(value.begin(), value.end(),
                                             [&](std::uint8_t b) { return b == value.front(); });
}

TEST(SqliteDurabilityTest, TwoProcessesWriteOneDatabaseAtOnce) {
  testing::TemporaryDirectory directory;
  auto path = directory.path() / "keychain.db";
  pid_t first = spawnWriter(path, -1, "first-", 300);
  pid_t second = spawnWriter(path, -1, "second-", 300);
  for (pid_t child : {first, second}) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed: " << status;
  }
  SqliteKeychain reader(path);
  for (const char* prefix : {"first-", "second-"}) {
    for (int i = 0; i < 20; ++i) {
      auto value = read(reader, prefix + std::to_string(i));
      ASSERT_TRUE(value) << prefix << i;
      EXPECT_EQ(*value, valueFor(280 + i)) << "the last write of each key wins";
    }
  }
}

TEST(SqliteDurabilityTest, WriterKilledMidStreamLeavesWholeItems) {
  testing::TemporaryDirectory directory;
  auto path = directory.path() / "keychain.db";
  for (int attempt = 0; attempt < 3; ++attempt) {
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    pid_t writer = spawnWriter(path, pipe[1], "k", 1'000'000);
    ::close(pipe[1]);
    char buffer[64];
    std::size_t seen = 0;
    while (seen < 40 + 15 * static_cast<std::size_t>(attempt)) {
      ssize_t got = ::read(pipe[0], buffer, sizeof buffer);
      ASSERT_GT(got, 0);
      seen += static_cast<std::size_t>(got);
    }
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    ::close(pipe[0]);

    SqliteKeychain reader(path);
    ASSERT_EQ(reader.problem(), std::nullopt);
    int present = 0;
    for (int i = 0; i < 20; ++i) {
      auto value = read(reader, "k" + std::to_string(i));
      if (!value) continue;
      ++present;
      EXPECT_TRUE(isWhole(*value)) << "item k" << i << " is torn";
    }
    EXPECT_EQ(present, 20) << "every key was written before the kill";
  }
}

}  // namespace
}  // namespace quorin::platform::posix
