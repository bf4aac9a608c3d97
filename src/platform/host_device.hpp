#pragma once

#include "quorin/device_options.hpp"

namespace quorin::platform {

// Makes the device that `options` names the default platform of clients made afterwards.
// Anything but ok changes nothing and creates nothing. May throw std::bad_alloc and
// std::system_error.
QRNDeviceStatus useHostDevice(const QRNDeviceOptions& options);

}  // namespace quorin::platform
