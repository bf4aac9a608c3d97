#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/file_manager.hpp"

namespace quorin::migration {

// Appends to a file from a thread of its own, one buffer behind the caller, so that copying a
// large output into the file overlaps reading and checking what comes next. The thread starts
// with the first append; the writer is the caller's again once finish() returns.
class WriteBehind {
 public:
  explicit WriteBehind(platform::FileWriter& writer) : writer_(writer) {}
  ~WriteBehind() { finish(); }
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Takes the bytes, and leaves `bytes` empty with the room of a buffer written before. False
  // once an earlier append has failed, so that the caller can stop making more.
  bool append(std::string& bytes);
  // Waits for every append; false when any of them failed.
  bool finish();

 private:
  void run();

  platform::FileWriter& writer_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string pending_;
  bool busy_ = false;  // pending_ is the thread's until it is written
  bool finishing_ = false;
  bool failed_ = false;
  bool alone_ = false;  // no thread could be started: appends are written in the call
  std::thread thread_;
};

}  // namespace quorin::migration
