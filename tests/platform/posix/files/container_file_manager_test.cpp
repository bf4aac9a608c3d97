#include "platform/posix/files/container_file_manager.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>

#include "platform/posix/device/system_calendar.hpp"
#include "platform/posix/files/file_io.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

namespace fs = std::filesystem;

TEST(ContainerFileManagerTest, ReadsIntoOneBufferFromALargeFileToASmallerOne) {
  testing::TemporaryDirectory root;
  ContainerFileManager files(root.path());
  auto library = *files.libraryDirectory();
  ASSERT_TRUE(files.createDirectory(library));
  std::string large(100'000, 'x');
  ASSERT_TRUE(writeFileAtomically(library / "large", large, 0600));
  ASSERT_TRUE(writeFileAtomically(library / "small", "[1]", 0600));
  ASSERT_TRUE(writeFileAtomically(library / "empty", "", 0600));

  formats::FileBuffer buffer;
  ASSERT_TRUE(files.readInto(library / "large", buffer));
  EXPECT_EQ(buffer.bytes(), large);
  const char* block = buffer.bytes().data();
  ASSERT_TRUE(files.readInto(library / "small", buffer));
  EXPECT_EQ(buffer.bytes(), "[1]");
  EXPECT_EQ(buffer.bytes().data(), block) << "the block is reused";
  EXPECT_EQ(buffer.bytes().data()[3], '\0') << "nothing of the larger file shows past the end";
  EXPECT_GE(buffer.capacity(), buffer.bytes().size() + formats::FileBuffer::kPadding);
  ASSERT_TRUE(files.readInto(library / "empty", buffer));
  EXPECT_TRUE(buffer.bytes().empty());

  EXPECT_FALSE(files.readInto(library / "missing", buffer));
  EXPECT_TRUE(buffer.bytes().empty());
  EXPECT_TRUE(files.troubles().empty()) << "a missing file is no trouble";
  EXPECT_FALSE(files.readInto(library, buffer));
  EXPECT_EQ(files.troubles().size(), 1u) << "a directory where a file belongs is";
}

// A size is told only for what a read would take whole, so that nothing is sized for a
// FIFO, a directory or a file over the read limit.
TEST(ContainerFileManagerTest, TellsTheSizeOfWhatItWouldRead) {
  testing::TemporaryDirectory root;
  ContainerFileManager files(root.path());
  auto library = *files.libraryDirectory();
  ASSERT_TRUE(files.createDirectory(library));
  ASSERT_TRUE(writeFileAtomically(library / "file", std::string(5'000, 'x'), 0600));
  fs::create_symlink(library / "file", library / "link");
  ASSERT_EQ(::mkfifo((library / "fifo").c_str(), 0600), 0);

  EXPECT_EQ(files.sizeOf(library / "file"), 5'000u);
  EXPECT_EQ(files.sizeOf(library / "link"), 5'000u) << "reads follow links too";
  EXPECT_EQ(files.sizeOf(library / "fifo"), std::nullopt);
  EXPECT_EQ(files.sizeOf(library), std::nullopt);
  EXPECT_EQ(files.sizeOf(library / "missing"), std::nullopt);
  EXPECT_EQ(regularFileSize(library / "file", 4'999), std::nullopt);
  EXPECT_TRUE(files.troubles().empty()) << "asking is no trouble";
}

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
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "the output holds the client identifier";
  ASSERT_EQ(::stat((library / "a").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

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

TEST(ContainerFileManagerTest, NeverWritesThroughALinkAndReportsWhatFailed) {
  testing::TemporaryDirectory root;
  testing::TemporaryDirectory elsewhere;
  ContainerFileManager files(root.path() / "device");
  auto library = *files.libraryDirectory();
  ASSERT_TRUE(files.createDirectory(library));
  fs::create_directory_symlink(elsewhere.path(), library / "linked");
  fs::create_symlink(elsewhere.path() / "made", library / "dangling");

  EXPECT_FALSE(files.createDirectory(library / "linked"));
  EXPECT_FALSE(files.createDirectory(library / "linked" / "inner"));
  EXPECT_FALSE(files.createDirectory(library / "dangling"));
  EXPECT_EQ(files.createFile(library / "linked" / "doc"), nullptr);
  EXPECT_TRUE(fs::is_empty(elsewhere.path())) << "nothing made outside the container";
  EXPECT_EQ(files.troubles().size(), 4u);
  EXPECT_NE(files.troubles().front().find("symbolic link"), std::string::npos)
      << files.troubles().front();
  files.noteUnwritten(library / "linked" / "doc");
  EXPECT_EQ(files.troubles().size(), 4u) << "the writer's own line, with why, stands for it";
  files.noteUnwritten(library / "unfinished");
  files.noteUnwritten(library / "unfinished");
  ASSERT_EQ(files.troubles().size(), 5u);
  EXPECT_EQ(files.troubles().back(), (library / "unfinished").string() + " was not written");

  // A link at a file's own name is replaced, not written through.
  ASSERT_TRUE(writeFileAtomically(elsewhere.path() / "target", "outside", 0600));
  fs::create_symlink(elsewhere.path() / "target", library / "doc");
  auto writer = files.createFile(library / "doc");
  ASSERT_TRUE(writer && writer->append("inside") && writer->commit());
  EXPECT_EQ(readFile(elsewhere.path() / "target"), "outside");
  EXPECT_EQ(files.contents(library / "doc"), "inside");

  // Missing files are no trouble; files that are there and cannot be read are.
  auto before = files.troubles().size();
  EXPECT_EQ(files.contents(library / "absent"), std::nullopt);
  ASSERT_EQ(::mkfifo((library / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(files.contents(library / "fifo"), std::nullopt);
  ASSERT_EQ(files.troubles().size(), before + 1);
  EXPECT_NE(files.troubles().back().find("fifo is not a regular file"), std::string::npos);
}

// A writer killed mid-write leaves its temporary behind; the next writer of that file
// removes it, but never the temporary of a writer still at work.
TEST(ContainerFileManagerTest, TheNextWriterRemovesTemporariesOfDeadWriters) {
  testing::TemporaryDirectory root;
  ContainerFileManager files(root.path());
  auto library = *files.libraryDirectory();
  ASSERT_TRUE(files.createDirectory(library));
  ASSERT_TRUE(writeFileAtomically(library / ".doc.tmp-123", std::string(1000, 'x'), 0600));
  ASSERT_TRUE(writeFileAtomically(library / ".other.tmp-9", "x", 0600));
  auto live = files.createFile(library / "doc");
  ASSERT_TRUE(live);
  EXPECT_FALSE(fs::exists(library / ".doc.tmp-123"));
  EXPECT_TRUE(fs::exists(library / ".other.tmp-9")) << "another file's temporary";

  auto second = files.createFile(library / "doc");
  ASSERT_TRUE(second && second->append("second") && second->commit());
  EXPECT_TRUE(live->append("first") && live->commit()) << "its temporary was left alone";
  EXPECT_EQ(files.contents(library / "doc"), "first");
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
