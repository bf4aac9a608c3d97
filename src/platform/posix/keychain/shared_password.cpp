#include "platform/posix/keychain/shared_password.hpp"

#include <string.h>
#include <sys/random.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace quorin::platform::posix {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// The largest multiple of 62 a byte holds: bytes past it are drawn again, so every character
// is equally likely.
constexpr unsigned kUnbiasedLimit = 256 - 256 % kAlphabet.size();

// Bytes from the system's CSPRNG, drawn 64 at a time and wiped when done with.
class RandomBytes {
 public:
  ~RandomBytes() { ::explicit_bzero(pool_.data(), pool_.size()); }

  std::uint8_t next() {
    if (left_ == 0) refill();
    return pool_[--left_];
  }

 private:
  void refill() {
    std::size_t filled = 0;
    while (filled < pool_.size()) {
      ssize_t got = ::getrandom(pool_.data() + filled, pool_.size() - filled, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) throw std::runtime_error("the system's random source failed");
      filled += static_cast<std::size_t>(got);
    }
    left_ = pool_.size();
  }

  std::array<std::uint8_t, 64> pool_{};
  std::size_t left_ = 0;
};

char randomCharacter(RandomBytes& random) {
  while (true) {
    unsigned byte = random.next();
    if (byte < kUnbiasedLimit) return kAlphabet[byte % kAlphabet.size()];
  }
}

bool hasShape(const std::string& password) {
  auto has = [&](int (*test)(int)) {
    return std::any_of(password.begin(), password.end(),
                       [&](char c) { return test(static_cast<unsigned char>(c)) != 0; });
  };
  return has(::isdigit) && has(::isupper);
}

}  // namespace

std::string generateSharedPassword() {
  RandomBytes random;
  std::string password;
  do {
    password.clear();
    for (int group = 0; group < 4; ++group) {
      if (group > 0) password.push_back('-');
      for (int i = 0; i < 3; ++i) password.push_back(randomCharacter(random));
    }
  } while (!hasShape(password));
  return password;
}

}  // namespace quorin::platform::posix
