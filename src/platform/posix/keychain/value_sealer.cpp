#include "platform/posix/keychain/value_sealer.hpp"

#include <sodium.h>

#include <stdexcept>

namespace quorin::platform::posix {
namespace {

constexpr std::size_t kNonceBytes = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr std::size_t kTagBytes = crypto_aead_xchacha20poly1305_ietf_ABYTES;
constexpr std::string_view kKeyIdContext = "quorin keychain key id";

void initializeSodium() {
  // Safe to call from several threads and more than once; fails only without a random source.
  if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
}

const unsigned char* bytesOf(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

}  // namespace

KeychainKey randomKeychainKey() {
  initializeSodium();
  KeychainKey key;
  randombytes_buf(key.data(), key.size());
  return key;
}

std::string keyToHex(const KeychainKey& key) {
  std::string hex(key.size() * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), key.data(), key.size());
  hex.pop_back();
  return hex;
}

std::optional<KeychainKey> keyFromHex(std::string_view hex) {
  KeychainKey key;
  std::size_t length = 0;
  if (hex.size() != key.size() * 2 ||
      sodium_hex2bin(key.data(), key.size(), hex.data(), hex.size(), nullptr, &length, nullptr) !=
          0 ||
      length != key.size())
    return std::nullopt;
  return key;
}

ValueSealer::ValueSealer(const KeychainKey& key) : key_(key) {
  initializeSodium();
  std::array<unsigned char, 16> id;
  crypto_generichash(id.data(), id.size(), bytesOf(kKeyIdContext), kKeyIdContext.size(),
                     key_.data(), key_.size());
  keyId_.resize(id.size() * 2 + 1);
  sodium_bin2hex(keyId_.data(), keyId_.size(), id.data(), id.size());
  keyId_.pop_back();
}

ValueSealer::~ValueSealer() {
  sodium_memzero(key_.data(), key_.size());
}

formats::Data ValueSealer::seal(std::span<const std::uint8_t> plaintext,
                                std::string_view associated) const {
  formats::Data sealed(kNonceBytes + plaintext.size() + kTagBytes);
  randombytes_buf(sealed.data(), kNonceBytes);
  unsigned long long length = 0;
  crypto_aead_xchacha20poly1305_ietf_encrypt(
      sealed.data() + kNonceBytes, &length, plaintext.data(), plaintext.size(), bytesOf(associated),
      associated.size(), nullptr, sealed.data(), key_.data());
  sealed.resize(kNonceBytes + length);
  return sealed;
}

std::optional<formats::Data> ValueSealer::open(std::span<const std::uint8_t> sealed,
                                               std::string_view associated) const {
  if (sealed.size() < kNonceBytes + kTagBytes) return std::nullopt;
  formats::Data plaintext(sealed.size() - kNonceBytes - kTagBytes);
  unsigned long long length = 0;
  if (crypto_aead_xchacha20poly1305_ietf_decrypt(
          plaintext.data(), &length, nullptr, sealed.data() + kNonceBytes,
          sealed.size() - kNonceBytes, bytesOf(associated), associated.size(), sealed.data(),
          key_.data()) != 0)
    return std::nullopt;
  plaintext.resize(length);
  return plaintext;
}

}  // namespace quorin::platform::posix
