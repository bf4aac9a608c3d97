#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "platform/error.hpp"
#include "platform/platform.hpp"

namespace quorin::keychain {

// Every result code a keychain call returns, and unexpectedError for all others.
enum class Status : std::int32_t {
#define QRN_STATUS(name, code, message) name = code,
#include "keychain/status_cases.inc"
#undef QRN_STATUS
};

inline constexpr std::string_view QuorinKeychainErrorDomain =
    "com.velmarothenskald.QuorinKeychain.error";

// init(status:): the case for `code`, or unexpectedError for a code not in the table.
Status statusFromCode(std::int32_t code);
// init(rawValue:): the case for `code`, or none.
std::optional<Status> statusFromRawValue(std::int32_t code);

inline std::int32_t rawValue(Status status) {
  return static_cast<std::int32_t>(status);
}
inline std::int64_t errorCode(Status status) {
  return rawValue(status);
}
std::string_view description(Status status);
// The case name, as the code spells it ("itemNotFound").
std::string_view caseName(Status status);

inline std::string_view errorDomain() {
  return QuorinKeychainErrorDomain;
}
formats::Dictionary errorUserInfo(Status status);
platform::Error toPlatformError(Status status);

// The error the keychain store throws for a failed result code.
class StatusError : public std::runtime_error {
 public:
  explicit StatusError(Status status);
  Status status() const { return status_; }

 private:
  Status status_;
};

// The Status to throw for a failed result code. Writes "OSStatus error:[<code>] <message>"
// to the platform's diagnostic sink first, except for userCanceled; a code not in the table
// becomes unexpectedError, and the line shows -99999.
StatusError statusError(platform::Platform& platform, std::int32_t code);

}  // namespace quorin::keychain
