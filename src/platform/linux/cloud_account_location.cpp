#include "platform/linux/cloud_account_location.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

#include "platform/posix/cloud/directory_cloud_account.hpp"
#include "platform/redis/redis_cloud_account.hpp"

namespace quorin::platform::linux {
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

// The length of the URL scheme `location` starts with ("scheme:", a letter then letters,
// digits, "+", "-" or "."), or 0 for a plain path.
std::size_t schemeLength(std::string_view location) {
  auto isAlpha = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
  if (location.empty() || !isAlpha(location[0])) return 0;
  for (std::size_t i = 1; i < location.size(); ++i) {
    char c = location[i];
    if (c == ':') return i;
    if (!isAlpha(c) && !std::isdigit(static_cast<unsigned char>(c)) && c != '+' && c != '-' &&
        c != '.')
      return 0;
  }
  return 0;
}

// Schemes are case-insensitive: "REDIS://" is "redis://".
std::string lowerScheme(std::string location) {
  auto length = schemeLength(location);
  std::transform(location.begin(), location.begin() + static_cast<std::ptrdiff_t>(length),
                 location.begin(), [](unsigned char c) { return std::tolower(c); });
  return location;
}

}  // namespace

bool isCloudAccountUrl(std::string_view location) {
  return schemeLength(location) > 0;
}

std::optional<std::string> cloudAccountLocationProblem(const std::string& location) {
  std::string url = lowerScheme(location);
  if (!isCloudAccountUrl(url)) return std::nullopt;
  std::string error;
  if (redis::parseRedisUrl(url, error)) return std::nullopt;
  return redis::maskedUrl(location) + ": " + error;
}

std::optional<std::string> relativePathIn(const std::string& location) {
  std::string url = lowerScheme(location);
  std::vector<std::string> paths{location};
  std::string error;
  if (isCloudAccountUrl(url)) {
    auto endpoint = redis::parseRedisUrl(url, error);
    if (!endpoint) return std::nullopt;
    paths = {endpoint->socketPath, endpoint->caFile, endpoint->certificateFile, endpoint->keyFile};
  }
  for (const auto& path : paths)
    if (!path.empty() && !std::filesystem::path(path).is_absolute()) return path;
  return std::nullopt;
}

// A URL of no supported scheme goes to the Redis account too, which refuses it: it is never
// taken for a directory named like the URL.
std::unique_ptr<CloudAccount> openCloudAccount(const std::string& location) {
  std::string url = lowerScheme(location);
  if (isCloudAccountUrl(url)) return std::make_unique<redis::RedisCloudAccount>(url);
  return std::make_unique<posix::DirectoryCloudAccount>(location);
}

std::optional<std::string> probeCloudAccount(const std::string& location) {
  std::string url = lowerScheme(location);
  if (isCloudAccountUrl(url)) return redis::RedisCloudAccount(url).probe();
  return posix::DirectoryCloudAccount(location).status().problem;
}

std::string cloudAccountIdentity(const std::string& location) {
  std::string url = lowerScheme(location);
  if (!isCloudAccountUrl(url)) return canonicalDirectory(location).string();
  std::string error;
  auto endpoint = redis::parseRedisUrl(url, error);
  return endpoint ? endpoint->identity() : url;
}

posix::CloudAccountKinds cloudAccountKinds() {
  return {openCloudAccount, cloudAccountIdentity};
}

}  // namespace quorin::platform::linux
