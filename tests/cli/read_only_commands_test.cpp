// A command that only reads leaves every file of the device and its account as it was: no
// commit of what nothing changed, no file made again.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "cli/cli_run.hpp"
#include "support/temporary_directory.hpp"

namespace {

using quorin::testing::quorin;
using quorin::testing::run;

struct FileState {
  std::int64_t modified = 0;  // nanoseconds
  std::string bytes;
  friend bool operator==(const FileState&, const FileState&) = default;
};

// Every regular file below `root`, with its contents and modification time.
std::map<std::string, FileState> filesBelow(const std::filesystem::path& root) {
  std::map<std::string, FileState> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    struct stat info {};
    ::stat(entry.path().c_str(), &info);
    std::ostringstream bytes;
    bytes << std::ifstream(entry.path(), std::ios::binary).rdbuf();
    files[entry.path().string()] = {info.st_mtim.tv_sec * 1'000'000'000 + info.st_mtim.tv_nsec,
                                    bytes.str()};
  }
  return files;
}

class ReadOnlyCommandsTest : public quorin::testing::CliTest {};

TEST_F(ReadOnlyCommandsTest, LeaveEveryFileOfTheDeviceAsItWas) {
  for (std::string write : {"keychain set token secret", "cloud set greeting hello",
                            "keychain shared set --server https://example.com --account me pw"})
    ASSERT_EQ(run(host() + write + " 2>/dev/null").status, 0) << write;
  ASSERT_EQ(run(quorin(root, "tablet") + "cloud set other hi").status, 0);
  ASSERT_EQ(run(host() + "cloud status").status, 0);  // takes the tablet's write in
  auto before = filesBelow(root.path());
  ASSERT_FALSE(before.empty());

  for (std::string read :
       {"keychain get token", "keychain list", "keychain status", "keychain generate-password",
        "keychain shared get --server https://example.com", "info", "--json info",
        "cloud get greeting --timeout 0", "cloud status", "--json cloud status"}) {
    ASSERT_EQ(run(host() + read + " >/dev/null").status, 0) << read;
    EXPECT_TRUE(filesBelow(root.path()) == before) << read << " changed a file";
  }
}

}  // namespace
