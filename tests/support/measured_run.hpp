#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace quorin::testing {

// How a program that a test ran went.
struct MeasuredRun {
  int status = -1;     // the exit status; -1 when killed by a signal
  std::string output;  // standard output and standard error, as they came
  std::chrono::milliseconds took{0};
  long peakKilobytes = 0;  // the largest resident set the program reached
};

// Runs the program `argv` names, with nothing on standard input, and kills it once `limit`
// has passed: a hang check, not a time the test expects.
MeasuredRun runMeasured(const std::vector<std::string>& argv, std::chrono::seconds limit);

}  // namespace quorin::testing
