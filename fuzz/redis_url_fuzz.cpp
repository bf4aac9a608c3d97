#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/redis/redis_url.hpp"

// A URL that parses names an account, and its host or socket is named.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorin::platform::redis;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  auto endpoint = parseRedisUrl(text, error);
  if (!endpoint) return error.empty() ? (std::abort(), 0) : 0;
  if (endpoint->account.empty()) std::abort();
  if (endpoint->socketPath.empty() && endpoint->host.empty()) std::abort();
  return 0;
}
