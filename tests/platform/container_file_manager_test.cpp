#include "platform/posix/container_file_manager.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>

#include "platform/posix/file_io.hpp"
#include "platform/posix/system_calendar.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

namespace fs = std::filesystem;

TEST(ContainerFileManagerTest, FilesUnderTheContainersLibrary) {
  testing::TemporaryDirectory root;
  ContainerFileManager files(root.path());
  auto library = *files.libraryDirectory();
  EXPECT_EQ(library, root.path() / "Library");
  EXPECT_FALSE(files.fileExists(library));
  ASSERT_TRUE(files.createDirectory(library / "a" / "b"));
  EXPECT_TRUE(files.createDirectory(library / "a" / "b"));
  EXPECT_TRUE(fs::is_directory(library / "a" / "b"));

  auto writer = files.createFile(library / "a" / "doc");
  ASSERT_TRUE(writer);
  EXPECT_TRUE(writer->append("{\"k\":"));
  EXPECT_FALSE(files.fileExists(library / "a" / "doc")) << "visible before commit";
  EXPECT_TRUE(writer->append("1}"));
  EXPECT_TRUE(writer->commit());
  EXPECT_EQ(files.contents(library / "a" / "doc"), "{\"k\":1}");
  struct stat info {};
  ASSERT_EQ(::stat((library / "a" / "doc").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);

  // A writer dropped before commit leaves the old file and no temporary behind.
  {
    auto abandoned = files.createFile(library / "a" / "doc");
    abandoned->append("{\"k\":");
  }
  EXPECT_EQ(files.contents(library / "a" / "doc"), "{\"k\":1}");
  EXPECT_EQ(std::distance(fs::directory_iterator(library / "a"), fs::directory_iterator()), 2);

  EXPECT_EQ(files.createFile(library / "missing" / "doc"), nullptr);
  EXPECT_EQ(files.contents(library / "a"), std::nullopt);
  EXPECT_EQ(files.contents(library / "nothing"), std::nullopt);
}

TEST(ContainerFileManagerTest, RemovesFilesTreesAndLinks) {
  testing::TemporaryDirectory root;
  ContainerFileManager files(root.path());
  auto library = *files.libraryDirectory();
  files.createDirectory(library / "tree" / "deep");
  ASSERT_TRUE(writeFileAtomically(library / "tree" / "deep" / "f", "x", 0600));
  ASSERT_TRUE(writeFileAtomically(library / "plain", "x", 0600));
  fs::create_symlink(root.path() / "nowhere", library / "dangling");

  EXPECT_TRUE(files.fileExists(library / "dangling"));
  for (auto name : {"tree", "plain", "dangling"}) {
    EXPECT_TRUE(files.removeItem(library / name)) << name;
    EXPECT_FALSE(files.fileExists(library / name)) << name;
  }
  EXPECT_TRUE(files.removeItem(library / "never there"));
}

// The calendar reads TZ; each case sets it and restores it.
class SystemCalendarTest : public ::testing::Test {
 protected:
  void zone(const char* tz) {
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  void TearDown() override {
    if (saved_)
      ::setenv("TZ", saved_->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::optional<std::string> saved_ =
      std::getenv("TZ") ? std::optional<std::string>(std::getenv("TZ")) : std::nullopt;
};

TEST_F(SystemCalendarTest, OffsetsAndWeekStartsFollowTheTimeZone) {
  constexpr double kTuesday = 1'700'000'000;  // 2023-11-14 22:13:20 GMT
  SystemCalendar calendar;
  zone("UTC0");
  EXPECT_EQ(calendar.secondsFromGMT(kTuesday), 0);
  auto start = calendar.startOfWeek(kTuesday);
  ASSERT_TRUE(start);
  // The last midnight on or before the instant that falls on the locale's first weekday.
  double expected = 1'699'747'200 + (calendar.firstWeekday() - 1) * 86400.0;
  if (expected > kTuesday) expected -= 7 * 86400;
  EXPECT_EQ(*start, expected);
  zone("<+03>-3");
  EXPECT_EQ(calendar.secondsFromGMT(kTuesday), 3 * 3600);
  zone("<-05>5");
  EXPECT_EQ(calendar.secondsFromGMT(kTuesday), -5 * 3600);
  // At GMT-5 that instant is still Tuesday, 17:13 local; its week began at local midnight.
  auto local = calendar.startOfWeek(kTuesday);
  ASSERT_TRUE(local);
  EXPECT_EQ(std::fmod(*local - 5 * 3600, 86400.0), 0.0);
  EXPECT_GT(calendar.now(), kTuesday);
  EXPECT_EQ(calendar.startOfWeek(std::nan("")), std::nullopt);
}

}  // namespace
}  // namespace quorin::platform::posix
