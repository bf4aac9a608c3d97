#include "platform/common/access_control.hpp"

#include <array>

namespace quorin::platform::common {
namespace {

constexpr std::uint64_t kOr = 0x4000;
constexpr std::uint64_t kAnd = 0x8000;

bool isProtectionClass(std::string_view protection) {
  constexpr std::array<std::string_view, 7> known = {
      sec::kSecAttrAccessibleWhenUnlocked,
      sec::kSecAttrAccessibleAfterFirstUnlock,
      sec::kSecAttrAccessibleAlways,
      sec::kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly,
      sec::kSecAttrAccessibleWhenUnlockedThisDeviceOnly,
      sec::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly,
      sec::kSecAttrAccessibleAlwaysThisDeviceOnly,
  };
  for (auto candidate : known) {
    if (candidate == protection) return true;
  }
  return false;
}

Error refusal(std::string description) {
  return Error{"NSOSStatusErrorDomain",
               errSecParam,
               {{std::string(kLocalizedDescriptionKey), std::move(description)}}};
}

}  // namespace

std::shared_ptr<const AccessControl> makeAccessControl(std::string_view protection,
                                                       std::uint64_t flags,
                                                       std::optional<Error>* error) {
  std::optional<Error> problem;
  if (!isProtectionClass(protection)) {
    problem = refusal("The protection class \"" + std::string(protection) + "\" is not valid.");
  } else if ((flags & ~sec::kKnownAccessControlFlags) != 0) {
    problem = refusal("The access-control flags contain unknown bits.");
  } else if ((flags & kOr) && (flags & kAnd)) {
    problem = refusal("The access-control flags cannot combine \"or\" with \"and\".");
  }
  if (problem) {
    if (error) *error = std::move(problem);
    return nullptr;
  }
  return std::make_shared<AccessControl>(std::string(protection), flags);
}

}  // namespace quorin::platform::common
