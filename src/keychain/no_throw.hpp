#pragma once

#include <exception>
#include <optional>

namespace quorin::keychain {

// For callers that promise never to throw: a failed read gives absent, a failed write does
// nothing. The keychain operations have already written their diagnostic lines.
template <typename Read>
auto absentOnError(Read read) -> decltype(read()) {
  try {
    return read();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

template <typename Write>
void ignoringErrors(Write write) {
  try {
    write();
  } catch (const std::exception&) {
  }
}

}  // namespace quorin::keychain
