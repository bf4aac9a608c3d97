#include "migration/write_behind.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorin::migration {
namespace {

class RecordingWriter final : public platform::FileWriter {
 public:
  bool append(std::string_view bytes) override {
    written.append(bytes);
    ++appends;
    return appends != failingAppend;
  }
  bool commit() override { return true; }

  std::string written;
  int appends = 0;
  int failingAppend = 0;
};

TEST(WriteBehindTest, WritesEveryBufferInOrderAndHandsBackEmptyOnes) {
  RecordingWriter writer;
  std::string expected;
  {
    WriteBehind behind(writer);
    std::string buffer;
    for (int i = 0; i < 1'000; ++i) {
      buffer.append(std::to_string(i)).push_back(',');
      expected.append(std::to_string(i)).push_back(',');
      behind.append(buffer);
      ASSERT_TRUE(buffer.empty());
    }
    ASSERT_TRUE(behind.finish());
    EXPECT_EQ(writer.written, expected);
    // The writer is the caller's again, and a later append starts over.
    buffer = "more";
    behind.append(buffer);
    EXPECT_TRUE(behind.finish());
  }
  EXPECT_EQ(writer.written, expected + "more");
  EXPECT_EQ(writer.appends, 1'001);
}

TEST(WriteBehindTest, AFailedAppendIsToldByFinish) {
  RecordingWriter writer;
  writer.failingAppend = 2;
  WriteBehind behind(writer);
  for (std::string piece : {"a", "b", "c"}) behind.append(piece);
  EXPECT_FALSE(behind.finish());
  EXPECT_EQ(writer.written, "abc");
}

TEST(WriteBehindTest, GoingAwayWithoutFinishStillWritesWhatItTook) {
  RecordingWriter writer;
  {
    WriteBehind behind(writer);
    std::string piece = "kept";
    behind.append(piece);
  }
  EXPECT_EQ(writer.written, "kept");
}

}  // namespace
}  // namespace quorin::migration
