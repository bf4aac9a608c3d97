#include "platform/posix/cloud_account_location.hpp"

#include "platform/posix/directory_cloud_account.hpp"
#include "platform/redis/redis_cloud_account.hpp"

namespace quorin::platform::posix {

std::unique_ptr<CloudAccount> openCloudAccount(const std::string& location) {
  if (redis::isRedisUrl(location)) return std::make_unique<redis::RedisCloudAccount>(location);
  return std::make_unique<DirectoryCloudAccount>(location);
}

std::optional<std::string> probeCloudAccount(const std::string& location) {
  if (redis::isRedisUrl(location)) return redis::RedisCloudAccount(location).probe();
  return DirectoryCloudAccount(location).status().problem;
}

std::string cloudAccountIdentity(const std::string& location) {
  if (!redis::isRedisUrl(location)) return location;
  std::string error;
  auto endpoint = redis::parseRedisUrl(location, error);
  return endpoint ? endpoint->describe() : location;
}

}  // namespace quorin::platform::posix
