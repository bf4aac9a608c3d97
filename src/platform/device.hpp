#pragma once

#include <array>
#include <optional>
#include <string>

#include "formats/uuid.hpp"

namespace quorin::platform {

// The record `uname` fills: five zero-terminated fields of 256 bytes.
struct Utsname {
  std::array<char, 256> sysname{};
  std::array<char, 256> nodename{};
  std::array<char, 256> release{};
  std::array<char, 256> version{};
  std::array<char, 256> machine{};
};

enum class UserInterfaceIdiom : int {
  unspecified = -1,
  phone = 0,
  pad = 1,
  tv = 2,
  carPlay = 3,
  mac = 5,
  vision = 6,
};

// The current device: hardware, OS version, idiom and the identifier for vendor. Safe to use
// from any thread.
class Device {
 public:
  virtual ~Device() = default;
  // Fills `result`, which the caller has zero-filled.
  virtual void uname(Utsname& result) const = 0;
  virtual std::string systemVersion() const = 0;
  virtual UserInterfaceIdiom userInterfaceIdiom() const = 0;
  virtual std::optional<formats::Uuid> identifierForVendor() const = 0;
};

}  // namespace quorin::platform
