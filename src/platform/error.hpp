#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "formats/value.hpp"

namespace quorin::platform {

inline constexpr std::string_view kLocalizedDescriptionKey = "NSLocalizedDescription";

// An error the platform reports as an object: a domain, a code and user info.
struct Error {
  std::string domain;
  std::int64_t code = 0;
  formats::Dictionary userInfo;

  // The user info's localized description, or a generic text naming domain and code.
  std::string localizedDescription() const;
};

// Thrown where the platform's error object is the error itself.
class ErrorException : public std::runtime_error {
 public:
  explicit ErrorException(Error error)
      : std::runtime_error(error.localizedDescription()), error_(std::move(error)) {}
  const Error& error() const { return error_; }

 private:
  Error error_;
};

inline std::string Error::localizedDescription() const {
  auto it = userInfo.find(kLocalizedDescriptionKey);
  if (it != userInfo.end()) {
    if (const auto* text = it->second.get<std::string>()) return *text;
  }
  return "The operation couldn't be completed. (" + domain + " error " + std::to_string(code) +
         ".)";
}

}  // namespace quorin::platform
