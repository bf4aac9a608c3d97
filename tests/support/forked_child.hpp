#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

namespace quorin::testing {

// Runs `child` in a process of its own, forked as a "fast" death test is, for a test that
// changes what the whole process has; the child must end with status 0 within 20 seconds,
// so a hang is the failure. `child` ends with ::_exit(code) to say what went wrong.
inline void expectForkedChildSucceeds(const std::function<void()>& child) {
  auto style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(
      {
        ::alarm(20);
        child();
        ::_exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  GTEST_FLAG_SET(death_test_style, style);
}

}  // namespace quorin::testing
