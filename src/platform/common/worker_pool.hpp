#pragma once

#include "platform/dispatch.hpp"

namespace quorin::platform::common {

// Runs `job` on one of the process's worker threads, started on first use and joined at exit.
void runOnWorker(Task job);

}  // namespace quorin::platform::common
