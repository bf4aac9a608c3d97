// Values read from standard input with "-", so that secrets stay off the command line.
#include <gtest/gtest.h>

#include <string>

#include "cli/cli_run.hpp"
#include "support/temporary_directory.hpp"

namespace {

using quorin::testing::contains;
using quorin::testing::run;

using StdinValueTest = quorin::testing::CliTest;

TEST_F(StdinValueTest, EveryByteIsKeptAsReadWithItsFinalNewline) {
  auto set = run("printf ' two\\nlines\\n' | " + host() + "keychain set key - 2>/dev/null");
  ASSERT_EQ(set.status, 0);
  EXPECT_EQ(run(host() + "keychain get key").output, " two\nlines\n\n");
  ASSERT_EQ(run("printf 'sec ret' | " + host() +
                "keychain shared set --server https://example.com --account me -")
                .status,
            0);
  EXPECT_EQ(run(host() + "keychain shared get --server https://example.com").output,
            "me\tsec ret\n");
}

TEST_F(StdinValueTest, AMegabyteCloudValueGoesThroughStandardInput) {
  auto set = run("head -c 1000000 /dev/zero | tr '\\0' v | " + host() + "cloud set big -");
  ASSERT_EQ(set.status, 0);
  auto got = run(host() + "cloud get big --timeout 0");
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.output, std::string(1000000, 'v') + "\n");
}

TEST_F(StdinValueTest, InputThatIsNotUtf8IsRefusedAndNothingIsSaved) {
  for (std::string command : {"keychain set key -", "cloud set key -",
                              "keychain shared set --server https://example.com --account me -"}) {
    auto refused = run("printf 'a\\377' | " + host() + command + " 2>&1");
    EXPECT_EQ(refused.status, 2) << command;
    EXPECT_NE(refused.output.find("not UTF-8 text"), std::string::npos) << refused.output;
  }
  EXPECT_EQ(run(host() + "keychain get key 2>/dev/null").status, 1);
  EXPECT_EQ(run(host() + "cloud get key --timeout 0 2>/dev/null").status, 1);
  EXPECT_EQ(run(host() + "keychain shared get --server https://example.com 2>/dev/null").status, 1);
}

// A closed standard input is not an empty value: the old value stays, whatever the device
// opens before the value is read.
TEST_F(StdinValueTest, AClosedStandardInputSavesNothing) {
  ASSERT_EQ(run(host() + "keychain set key old").status, 0);
  ASSERT_EQ(run(host() + "cloud set key old").status, 0);
  auto shared = std::string("keychain shared set --server https://example.com --account me ");
  ASSERT_EQ(run(host() + shared + "old").status, 0);
  for (std::string command :
       {std::string("keychain set key -"), std::string("cloud set key -"), shared + "-"}) {
    auto refused = run(host() + command + " <&- 2>&1");
    EXPECT_EQ(refused.status, 2) << command;
    EXPECT_EQ(refused.output,
              "quorin: not saved: the value is read from standard input, which is closed\n");
  }
  EXPECT_EQ(run(host() + "keychain get key").output, "old\n");
  EXPECT_EQ(run(host() + "cloud get key --timeout 0").output, "old\n");
  EXPECT_EQ(run(host() + "keychain shared get --server https://example.com").output, "me\told\n");

  auto events = run(host() + "events <&- 2>&1");
  EXPECT_EQ(events.status, 2);
  EXPECT_TRUE(contains(events.output, "standard input is closed")) << events.output;
}

}  // namespace
