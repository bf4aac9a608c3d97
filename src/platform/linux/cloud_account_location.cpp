#include "platform/linux/cloud_account_location.hpp"

#include <filesystem>

#include "platform/posix/cloud/directory_cloud_account.hpp"
#include "platform/redis/redis_cloud_account.hpp"

namespace quorin::platform::posix {
namespace {

// Symbolic links are resolved as far as the directory exists; the rest, which it may not
// yet, is normalised as written.
std::filesystem::path canonicalDirectory(const std::string& location) {
  std::error_code error;
  auto absolute = std::filesystem::absolute(location, error);
  auto path = std::filesystem::weakly_canonical(absolute, error);
  if (error) path = absolute.lexically_normal();
  if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
  return path;
}

}  // namespace

std::unique_ptr<CloudAccount> openCloudAccount(const std::string& location) {
  if (redis::isRedisUrl(location)) return std::make_unique<redis::RedisCloudAccount>(location);
  return std::make_unique<DirectoryCloudAccount>(location);
}

std::optional<std::string> probeCloudAccount(const std::string& location) {
  if (redis::isRedisUrl(location)) return redis::RedisCloudAccount(location).probe();
  return DirectoryCloudAccount(location).status().problem;
}

std::string cloudAccountIdentity(const std::string& location) {
  if (!redis::isRedisUrl(location)) return canonicalDirectory(location).string();
  std::string error;
  auto endpoint = redis::parseRedisUrl(location, error);
  return endpoint ? endpoint->identity() : location;
}

CloudAccountKinds cloudAccountKinds() {
  return {openCloudAccount, cloudAccountIdentity};
}

}  // namespace quorin::platform::posix
