// The quorin host on containers that are damaged, or laid out to mislead it.
#include <gtest/gtest.h>
#include <simdjson.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "cli/cli_run.hpp"
#include "platform/posix/files/file_io.hpp"
#include "support/temporary_directory.hpp"

namespace {

namespace fs = std::filesystem;
using quorin::testing::quorin;
using quorin::testing::run;
using quorin::testing::TemporaryDirectory;

// A copy of the example legacy device in `root`, as "device".
fs::path legacyDevice(const TemporaryDirectory& root) {
  fs::copy(QUORIN_EXAMPLE_CONTAINER, root.path() / "device", fs::copy_options::recursive);
  return root.path() / "device";
}

bool contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

// What a clear would erase is all still there.
void expectLegacyDataKept(const fs::path& device) {
  EXPECT_TRUE(fs::exists(device / "Library/campaigns/lto_campaigns"));
  EXPECT_TRUE(fs::exists(device / "Library/Preferences/com.corvasta.morvent.plist"));
}

void replaceWithFifo(const fs::path& path) {
  fs::create_directories(path.parent_path());
  fs::remove(path);
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
}

// Nobody writes to these FIFOs: a command that opened one for reading would wait for ever,
// and `timeout` would end it with 124.
TEST(HostileContainerTest, FifosWhereFilesBelongNeverHoldACommand) {
  TemporaryDirectory root;
  auto device = legacyDevice(root);
  for (auto file :
       {"device.plist", "Library/Preferences/quorin.plist", "Library/Keychains/keychain.key",
        "Library/Cloud/device", "Library/campaigns/analytics", "Info.plist"})
    replaceWithFifo(device / file);
  auto host =
      "timeout 60 " + quorin(root) + "--info-plist '" + (device / "Info.plist").string() + "' ";

  auto info = run(host + "info 2>&1");
  EXPECT_NE(info.status, 124) << info.output;
  EXPECT_NE(info.output.find("device.plist is not a regular file"), std::string::npos)
      << info.output;
  for (auto command : {"keychain set k v", "keychain list", "cloud set k v",
                       "cloud get k --timeout 1", "migrate"}) {
    auto result = run(host + command + " 2>&1");
    EXPECT_NE(result.status, 124) << command << ": " << result.output;
    EXPECT_NE(result.status, -1) << command << ": " << result.output;
  }
}

TEST(HostileContainerTest, MigrateClearsOnlyWhatItMigrated) {
  TemporaryDirectory root;
  auto device = legacyDevice(root);
  // A directory with something in it cannot be replaced by the output file of its name.
  fs::create_directories(device / "Library/campings_legacy/cachedAnalytics/occupied");

  auto kept = run(quorin(root) + "migrate --clear 2>&1");
  EXPECT_EQ(kept.status, 2) << kept.output;
  EXPECT_TRUE(contains(kept.output, "cachedAnalytics was not written")) << kept.output;
  EXPECT_TRUE(contains(kept.output, "not cleared")) << kept.output;
  EXPECT_FALSE(contains(kept.output, "cleared: the legacy data and")) << kept.output;
  expectLegacyDataKept(device);

  auto forced = run(quorin(root) + "migrate --clear --force 2>&1");
  EXPECT_EQ(forced.status, 2) << "the failure is still reported: " << forced.output;
  EXPECT_FALSE(fs::exists(device / "Library/campaigns"));
  EXPECT_FALSE(fs::exists(device / "Library/Preferences/com.corvasta.morvent.plist"));
}

// Past the file-size limit a write fails as it does on a full disk.
TEST(HostileContainerTest, MigrateOnAFullDiskKeepsTheLegacyData) {
  TemporaryDirectory root;
  auto device = legacyDevice(root);
  std::string events = "{";
  for (int i = 0; i < 4000; ++i)
    events += (i ? ",\"event" : "\"event") + std::to_string(i) + "\":{\"name\":\"app_open\"}";
  ASSERT_TRUE(quorin::platform::posix::writeFileAtomically(
      device / "Library/campaigns/impressionAnalytics", events + "}", 0600));

  auto full = run("trap '' XFSZ; ulimit -f 64; " + quorin(root) + "migrate --clear 2>&1");
  EXPECT_EQ(full.status, 2) << full.output;
  EXPECT_TRUE(contains(full.output, "cachedAnalytics was not written")) << full.output;
  expectLegacyDataKept(device);
  EXPECT_TRUE(fs::exists(device / "Library/campaigns/impressionAnalytics"));
}

TEST(HostileContainerTest, MigrateKeepsLegacyDataItCouldNotRead) {
  TemporaryDirectory root;
  auto device = legacyDevice(root);
  replaceWithFifo(device / "Library/campaigns/analytics");
  auto result = run("timeout 60 " + quorin(root) + "migrate --clear 2>&1");
  EXPECT_EQ(result.status, 2) << result.output;
  EXPECT_TRUE(contains(result.output, "analytics is not a regular file")) << result.output;
  expectLegacyDataKept(device);
}

// The output holds the client identifier: it stays the user's, inside the container.
TEST(HostileContainerTest, MigrationOutputIsPrivateAndNeverFollowsALink) {
  TemporaryDirectory root;
  TemporaryDirectory elsewhere;
  auto device = legacyDevice(root);
  fs::create_directory_symlink(elsewhere.path(), device / "Library/campings_legacy");

  auto linked = run(quorin(root) + "migrate --clear 2>&1");
  EXPECT_EQ(linked.status, 2) << linked.output;
  EXPECT_TRUE(contains(linked.output, "symbolic link")) << linked.output;
  EXPECT_TRUE(fs::is_empty(elsewhere.path())) << "nothing written outside the container";
  expectLegacyDataKept(device);

  fs::remove(device / "Library/campings_legacy");
  auto done = run("umask 022; " + quorin(root) + "migrate 2>&1");
  ASSERT_EQ(done.status, 0) << done.output;
  auto output = device / "Library/campings_legacy";
  EXPECT_EQ(fs::status(output).permissions(), fs::perms::owner_all);
  for (auto name : {"context", "generalInfo", "cachedAnalytics", "counters", "ltoInfo"})
    EXPECT_EQ(fs::status(output / name).permissions(),
              fs::perms::owner_read | fs::perms::owner_write)
        << name;

  // As an earlier release left it: every migration narrows it again, one that writes nothing
  // too.
  fs::permissions(output, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  ASSERT_EQ(run(quorin(root) + "migrate").status, 0);
  EXPECT_EQ(fs::status(output).permissions(), fs::perms::owner_all);
  ASSERT_EQ(run(quorin(root) + "migrate --clear").status, 0);
  fs::create_directory(output);
  fs::permissions(output, fs::perms::all);
  ASSERT_EQ(run(quorin(root) + "migrate").status, 0);
  EXPECT_EQ(fs::status(output).permissions(), fs::perms::owner_all);
}

// Left by writers killed mid-write: a migration's output, a new container's profile.
TEST(HostileContainerTest, TemporariesOfKilledRunsAreRemovedByTheNext) {
  TemporaryDirectory root;
  auto device = legacyDevice(root);
  auto output = device / "Library/campings_legacy";
  fs::create_directories(output);
  ASSERT_TRUE(quorin::platform::posix::writeFileAtomically(output / ".cachedAnalytics.tmp-4242",
                                                           std::string(100000, '['), 0600));
  ASSERT_EQ(run(quorin(root) + "migrate").status, 0);
  EXPECT_FALSE(fs::exists(output / ".cachedAnalytics.tmp-4242"));

  auto fresh = root.path() / "fresh";
  fs::create_directories(fresh);
  ASSERT_TRUE(
      quorin::platform::posix::writeFileAtomically(fresh / ".device.plist.tmp-7", "<?xml", 0600));
  ASSERT_EQ(run(quorin(root, "fresh") + "info").status, 0);
  EXPECT_FALSE(fs::exists(fresh / ".device.plist.tmp-7"));
  EXPECT_TRUE(fs::exists(fresh / "device.plist"));
}

// Whatever the path, --json prints one document that reads.
TEST(HostileContainerTest, JsonMigrateIsValidForAPathThatIsNotUtf8) {
  TemporaryDirectory root;
  fs::copy(QUORIN_EXAMPLE_CONTAINER, root.path() / "dev\xFFice", fs::copy_options::recursive);
  auto result = run(quorin(root, "dev\xFFice") + "--json migrate");
  ASSERT_EQ(result.status, 0) << result.output;
  simdjson::dom::parser parser;
  simdjson::dom::element documents;
  ASSERT_EQ(parser.parse(result.output).get(documents), simdjson::SUCCESS) << result.output;
  EXPECT_TRUE(documents["directory"].is_null());
  EXPECT_TRUE(documents["generalInfo"].is_object());
}

// A document nested as deep as a reader here goes cannot be nested in the summary: it is
// shown as a string holding its text, never as null. Null is for no document: no file, or
// one that is not JSON.
TEST(HostileContainerTest, JsonMigrateShowsADocumentTooDeepToNestAsItsText) {
  TemporaryDirectory root;
  auto device = legacyDevice(root);
  std::string deepest = std::string(1023, '[') + std::string(1023, ']');
  ASSERT_TRUE(quorin::platform::posix::writeFileAtomically(device / "Library/campaigns/limits",
                                                           deepest, 0600));
  auto output = device / "Library" / "campings_legacy";
  fs::create_directories(output);
  ASSERT_TRUE(quorin::platform::posix::writeFileAtomically(output / "ltoInfo", "[1,", 0600));
  fs::remove(device / "Library/campaigns/lto_campaigns");
  auto result = run(quorin(root) + "--json migrate");
  simdjson::dom::parser parser;
  simdjson::dom::element documents;
  ASSERT_EQ(parser.parse(result.output).get(documents), simdjson::SUCCESS) << result.output;

  std::string_view context;
  ASSERT_EQ(documents["context"].get_string().get(context), simdjson::SUCCESS) << result.output;
  auto written = quorin::platform::posix::readFile(output / "context");
  ASSERT_TRUE(written);
  EXPECT_EQ(context, *written);
  simdjson::dom::parser own;
  simdjson::dom::element limits;
  ASSERT_EQ(own.parse(std::string(context))["limits"].get(limits), simdjson::SUCCESS);
  EXPECT_TRUE(limits.is_array());
  EXPECT_TRUE(documents["ltoInfo"].is_null()) << "a stale file that is not JSON";
  EXPECT_TRUE(documents["generalInfo"].is_object());
}

// A stale output the migration did not replace is shown without its byte-order mark, which
// JSON inside JSON cannot have.
TEST(HostileContainerTest, JsonMigrateShowsAStaleOutputWithoutItsMark) {
  TemporaryDirectory root;
  auto device = legacyDevice(root);
  fs::remove_all(device / "Library" / "campaigns");
  auto output = device / "Library" / "campings_legacy";
  fs::create_directories(output);
  ASSERT_TRUE(quorin::platform::posix::writeFileAtomically(output / "cachedAnalytics",
                                                           "\xEF\xBB\xBF{\"a\":1}", 0600));
  auto result = run(quorin(root, "device") + "--json migrate");
  simdjson::dom::parser parser;
  simdjson::dom::element documents;
  ASSERT_EQ(parser.parse(result.output).get(documents), simdjson::SUCCESS) << result.output;
  EXPECT_EQ(documents["cachedAnalytics"]["a"].get_int64().value_unsafe(), 1);

  auto summary = run(quorin(root, "device") + "migrate");
  EXPECT_NE(summary.output.find("cachedAnalytics: 10 bytes, 1 members"), std::string::npos)
      << summary.output;
}

}  // namespace
