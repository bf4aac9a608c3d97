#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/cloud_account.hpp"

namespace quorin::platform::posix {

// The account a location names: a `redis://` or `unix://` URL, or else a directory.
std::unique_ptr<CloudAccount> openCloudAccount(const std::string& location);

// Why the account cannot be used, or none; a server is asked on the calling thread. One
// out of reach is no reason: writes wait on the device until it is back.
std::optional<std::string> probeCloudAccount(const std::string& location);

// What names the account in the device's own records: the location without its password,
// so that a changed password still finds the writes kept for the account.
std::string cloudAccountIdentity(const std::string& location);

}  // namespace quorin::platform::posix
