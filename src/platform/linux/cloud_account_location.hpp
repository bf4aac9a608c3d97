#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/cloud_account.hpp"
#include "platform/posix/cloud/cloud_account_selection.hpp"

namespace quorin::platform::linux {

// Whether `location` is a URL: it starts with "scheme:" (a letter, then letters, digits, "+",
// "-" or "."). Anything else is a directory path; "./a:b" names a directory with a colon.
bool isCloudAccountUrl(std::string_view location);

// Why `location` cannot name an account whatever a server says (a URL of a scheme no
// backend takes, or malformed), or none. Schemes are case-insensitive.
std::optional<std::string> cloudAccountLocationProblem(const std::string& location);

// A path `location` names relative to the working directory, or none: a directory account's
// own, or a URL's socket or its ca=, cert= or key= file.
std::optional<std::string> relativePathIn(const std::string& location);

// The account a location names: a URL of a supported scheme, or else a directory.
std::unique_ptr<CloudAccount> openCloudAccount(const std::string& location);

// Why the account cannot be used, or none; a server is asked on the calling thread. One
// out of reach is no reason: writes wait on the device until it is back.
std::optional<std::string> probeCloudAccount(const std::string& location);

// What names the account in the device's own records, so that however the location is
// written the same account finds the writes kept for it: a directory's absolute path with
// links resolved; a URL without its password and files.
std::string cloudAccountIdentity(const std::string& location);

// Every kind of account above, for a device's account selection.
posix::CloudAccountKinds cloudAccountKinds();

}  // namespace quorin::platform::linux
