#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorin::platform::redis {

// Where a Redis cloud account lives, as its URL names it:
//   redis://[user[:password]@]host[:port][/db]?account=NAME
//   rediss://[user[:password]@]host[:port][/db]?account=NAME[&ca=FILE][&cert=FILE&key=FILE]
//   unix://[user[:password]@]/path/to/socket?account=NAME[&db=N]
// Any of them may add &node=host:port, again and again: more nodes of a cluster, tried in
// turn when the first cannot be reached.
// rediss:// is TLS: the server's certificate must chain to `ca` (else to the system's
// authorities) and name the host; `cert` and `key` are the device's own, for a server that
// asks for one.
struct RedisEndpoint {
  std::string socketPath;  // set for unix://
  std::string host;
  int port = 6379;
  bool tls = false;
  std::string caFile;  // empty: the system's authorities
  std::string certificateFile;
  std::string keyFile;
  std::string user;  // empty: the default user
  std::optional<std::string> password;
  int database = 0;
  std::string account;  // empty only for a server's own URL
  std::vector<std::pair<std::string, int>> seeds;  // the &node= hosts and ports

  // The URL with the password and file paths masked, for messages.
  std::string describe() const;
  // What names the account however its credentials and files change: the URL without the
  // password and without the files.
  std::string identity() const;
};

// Whether `name` may name an account: it becomes part of key, channel and user names.
bool isAccountName(std::string_view name);

// Every URL scheme an account location may use, as such a URL starts; any other is refused.
inline constexpr std::string_view kAccountUrlSchemes[] = {"redis://", "rediss://", "unix://"};

// "redis://, rediss:// or unix://": the schemes above, for messages.
std::string describeAccountUrlSchemes();

// Whether `location` names a Redis account rather than a directory.
bool isRedisUrl(std::string_view location);

// The endpoint, or none with `error` saying what is wrong with the URL.
std::optional<RedisEndpoint> parseRedisUrl(std::string_view url, std::string& error);
// `url` with the password and the values of ca=, cert= and key= masked, each character by
// one '*', even when the rest does not parse.
std::string maskedUrl(std::string_view url);

// A server's URL for its administration: the same without ?account=.
std::optional<RedisEndpoint> parseRedisServerUrl(std::string_view url, std::string& error);

}  // namespace quorin::platform::redis
