#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/redis/redis_url.hpp"

namespace quorin::platform::redis {

// Every key and the channel of an account start with this. The hash tag keeps them on one
// node of a cluster; the ACL user of the account is limited to it.
std::string accountKeyPrefix(std::string_view account);

// The server's user for an account, apart from the server's own users.
std::string accountUserName(std::string_view account);

// What the account's user may do: its keys and channel, and only the commands a device sends
// or its functions call; SELECT too when the account is not in database 0.
std::vector<std::string> accountUserRules(const RedisEndpoint& device);

// Loads the account's functions on the server `server` names, unless it has them, then
// creates the account's user there (with the credentials of a user who may manage users and
// functions), or gives an existing one a new password and ends its connections. Answers the
// device's URL, or none with `error` saying why; `error` may hold a warning beside a URL.
// On a cluster every node it names is provisioned (the functions on its masters), the URL
// names them all, and each node not provisioned is in `unreached` with why.
std::optional<std::string> provisionAccount(const RedisEndpoint& server, std::string_view account,
                                            std::string& error,
                                            std::vector<std::string>& unreached);

enum class Revocation { revoked, noSuchUser, failed };

// Deletes the account's user, which ends its connections; the account's data stays. On a
// cluster, on every node it names: one that could not be asked is in `unreached`, and the
// revocation failed.
Revocation revokeAccount(const RedisEndpoint& server, std::string_view account, std::string& error,
                         std::vector<std::string>& unreached);

}  // namespace quorin::platform::redis
