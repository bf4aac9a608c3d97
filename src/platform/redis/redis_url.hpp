#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorin::platform::redis {

// Where a Redis cloud account lives, as its URL names it:
//   redis://[user[:password]@]host[:port][/db]?account=NAME
//   unix://[user[:password]@]/path/to/socket?account=NAME[&db=N]
struct RedisEndpoint {
  std::string socketPath;  // set for unix://
  std::string host;
  int port = 6379;
  std::string user;  // empty: the default user
  std::optional<std::string> password;
  int database = 0;
  std::string account;

  // The URL with any password masked, for messages.
  std::string describe() const;
};

// Whether `location` names a Redis account rather than a directory.
bool isRedisUrl(std::string_view location);

// The endpoint, or none with `error` saying what is wrong with the URL.
std::optional<RedisEndpoint> parseRedisUrl(std::string_view url, std::string& error);

}  // namespace quorin::platform::redis
