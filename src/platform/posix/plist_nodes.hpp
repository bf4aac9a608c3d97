#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace quorin::platform::posix {

struct PlistDeleter {
  void operator()(void* node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// libplist holds a date as a double, but its accessors take dates as 32-bit seconds. These go
// through a one-object binary list instead, which carries the double exactly.

// A date node for any finite number of seconds since 2001.
PlistPtr newDateNode(double secondsSince2001);

// The seconds since 2001 of a date node.
std::optional<double> dateNodeSeconds(plist_t node);

}  // namespace quorin::platform::posix
