#pragma once

// The device a C++ host runs as, named with what the quorin host's global options say; see
// QRNQuorinClient::useDevice().

#include <array>
#include <cstdint>
#include <optional>
#include <string>

struct QRNDeviceOptions {
  // The device's container directory: an absolute path, made on first use.
  std::string container;
  // The cloud account its store syncs through: a directory (an absolute path, made on first
  // use where its parent exists), or a "redis://", "rediss://" or "unix://" URL with
  // "?account=NAME"; the user's default account when none.
  std::optional<std::string> cloudAccount = std::nullopt;
  // The application's Info.plist (an absolute path), read once: buildNumber and the defaults
  // suite's name.
  std::optional<std::string> infoPlist = std::nullopt;
  // Where the keychain's sealing key is kept: "secret-service" or "key-file". With neither
  // this nor keychainKey, the key QRNQuorinClient::useKeychainKey() gave, else the Secret
  // Service when reachable, else the key file.
  std::optional<std::string> keyStore = std::nullopt;
  // The host's own key, from a key store of its own; not together with keyStore.
  std::optional<std::array<std::uint8_t, 32>> keychainKey = std::nullopt;
};

enum class QRNDeviceStatus {
  ok,
  // An empty string, a cloud account URL of an unsupported scheme, a relative path (the
  // Info.plist, a directory account, a URL's ca=, cert= or key= file), an unknown key store,
  // or a key store named beside a key.
  invalidOptions,
  // The container is empty or not an absolute path.
  relativeContainer,
  // The device could not be set up: memory or file descriptors ran out.
  failed,
  // The container's parent directory is missing, or the container cannot be read or written.
  unusableContainer,
  // The cloud account is a directory whose parent directory is missing, or something other
  // than a directory stands in its place.
  unusableCloudAccount,
};
