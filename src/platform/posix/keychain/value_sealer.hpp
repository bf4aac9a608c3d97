#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "formats/value.hpp"

namespace quorin::platform::posix {

using KeychainKey = std::array<std::uint8_t, 32>;

// A fresh key from the system's CSPRNG.
KeychainKey randomKeychainKey();
// Lower-case hexadecimal, and back; none for text that is not 64 hex digits.
std::string keyToHex(const KeychainKey& key);
std::optional<KeychainKey> keyFromHex(std::string_view hex);

// Seals keychain values with XChaCha20-Poly1305 under one key: a random nonce per value, and
// associated data that ties the sealed bytes to the item they belong to.
class ValueSealer {
 public:
  explicit ValueSealer(const KeychainKey& key);
  ~ValueSealer();
  ValueSealer(const ValueSealer&) = delete;
  ValueSealer& operator=(const ValueSealer&) = delete;

  // The nonce, then the ciphertext with its tag.
  formats::Data seal(std::span<const std::uint8_t> plaintext, std::string_view associated) const;
  // None when the bytes were not sealed under this key with this associated data.
  std::optional<formats::Data> open(std::span<const std::uint8_t> sealed,
                                    std::string_view associated) const;
  // Names the key without revealing it: a keyed hash, safe to store beside the values.
  const std::string& keyId() const { return keyId_; }

 private:
  KeychainKey key_;
  std::string keyId_;
};

}  // namespace quorin::platform::posix
