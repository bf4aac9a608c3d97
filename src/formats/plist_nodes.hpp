#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace quorin::formats {

struct PlistDeleter {
  void operator()(void* node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// libplist holds a date as a double and an integer together with whether it is unsigned, but
// its accessors take dates as 32-bit seconds and integers as bare 64-bit patterns. These go
// through a one-object binary list instead, which carries both exactly.

// A date node for any finite number of seconds since 2001.
PlistPtr newDateNode(double secondsSince2001);
// An integer node that is written unsigned, as values past 2^63-1 must be.
PlistPtr newUnsignedNode(std::uint64_t value);

// The seconds since 2001 of a date node.
std::optional<double> dateNodeSeconds(plist_t node);
// Whether an integer node holds an unsigned value rather than the negative one of its bits.
bool isUnsignedNode(plist_t node);

}  // namespace quorin::formats
