#pragma once

namespace quorin::testing {

// A socket listening on a free loopback TCP port, which `port` is set to; -1 when none
// could be had.
int listenOnLoopback(int& port);

}  // namespace quorin::testing
