#pragma once

#include <memory>

#include "platform/diagnostics.hpp"
#include "quorin/device_options.hpp"

namespace quorin::platform {

class Platform;

// Opens the device that `options` names, for clients made on it; on anything but ok,
// `device` is left empty and nothing is created. May throw std::bad_alloc and
// std::system_error.
QRNDeviceStatus openHostDevice(const QRNDeviceOptions& options,
                               std::shared_ptr<Platform>& device);

// Makes the device that `options` names the default platform of clients made afterwards.
// Anything but ok changes nothing and creates nothing. May throw as openHostDevice() does.
QRNDeviceStatus useHostDevice(const QRNDeviceOptions& options);

// Where the diagnostic lines of every device made for a host go, those made earlier
// included; an empty sink restores standard output. Once this returns, the previous sink is
// not called again, so a sink must not call this.
void setHostDiagnosticSink(DiagnosticSink sink);

}  // namespace quorin::platform
