#pragma once

#include <string>

namespace quorin::platform::posix {

// A password of the platform's shape ("aB3-xYz-9Qw-e4R"), from the system's CSPRNG.
std::string generateSharedPassword();

}  // namespace quorin::platform::posix
