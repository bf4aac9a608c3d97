#pragma once

#include <map>
#include <string>

namespace quorin::platform {

struct OperatingSystemVersion {
  int majorVersion = 0;
  int minorVersion = 0;
  int patchVersion = 0;
};

// The running process: its environment and the operating system it runs on. Safe to use
// from any thread.
class ProcessInfo {
 public:
  virtual ~ProcessInfo() = default;
  virtual std::map<std::string, std::string> environment() const = 0;
  // Whether an iPhone or iPad application runs on a Mac.
  virtual bool isiOSAppOnMac() const = 0;
  virtual bool isOperatingSystemAtLeast(OperatingSystemVersion version) const = 0;
};

}  // namespace quorin::platform
