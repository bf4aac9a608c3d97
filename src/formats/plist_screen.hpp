#pragma once

#include <cstdint>
#include <string_view>

namespace quorin::formats {

// libplist parses, writes, copies and frees recursively, and reads a binary plist's shared
// objects afresh for every reference to them. These bound what it is ever handed, far above
// anything a device writes. A value's depth counts it and the containers around it.
inline constexpr int kMaxPlistDepth = 512;
// Every object as often as it is reached.
inline constexpr std::uint64_t kMaxPlistObjects = 4'000'000;
// The bytes of the objects reached, counted as often as they are reached, per byte of input.
inline constexpr std::uint64_t kMaxPlistExpansion = 64;

// Whether libplist can read `bytes` without aborting or running out of stack or memory: no
// dictionary key holds a NUL (its key getter asserts), nothing nests deeper or expands
// further than the limits above, and no binary object contains itself. False for what is
// too broken to tell.
bool plistIsSafeToParse(std::string_view bytes);

}  // namespace quorin::formats
