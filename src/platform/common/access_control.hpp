#pragma once

#include "platform/keychain_services.hpp"

namespace quorin::platform::common {

// Makes access-control objects as the platform does: a known protection class, known
// flags, and not both "or" and "and". Otherwise none, with an error report.
std::shared_ptr<const AccessControl> makeAccessControl(std::string_view protection,
                                                       std::uint64_t flags,
                                                       std::optional<Error>* error);

}  // namespace quorin::platform::common
