#pragma once

#include <memory>
#include <vector>

#include "platform/linux/linux_platform.hpp"

namespace quorin::platform::linux {

// The run loop of the process's main thread, which the C interface drives. Every device made
// for a host runs its main queue there, as every part of an application shares one main
// thread.
std::shared_ptr<common::RunLoop> processMainLoop();
// A device on the process's main loop, known to hostDevices() while anything holds it.
std::shared_ptr<LinuxPlatform> makeHostDevice(LinuxPlatformOptions options);
// The devices made for hosts that something still holds, oldest first.
std::vector<std::shared_ptr<LinuxPlatform>> hostDevices();

}  // namespace quorin::platform::linux
