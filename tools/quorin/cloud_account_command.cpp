#include <cstring>
#include <iostream>

#include "host.hpp"
#include "platform/redis/redis_account_user.hpp"

namespace quorin::cli {
namespace {

using platform::redis::Revocation;

std::optional<platform::redis::RedisEndpoint> serverOf(const CloudRequest& request) {
  std::string error;
  if (!platform::redis::isAccountName(request.key)) {
    std::cerr << "quorin: an account name is 1 to 128 letters, digits, '-', '_' or '.'\n";
    return std::nullopt;
  }
  auto server = platform::redis::parseRedisServerUrl(request.value, error);
  if (!server) std::cerr << "quorin: not a server URL: " << error << "\n";
  return server;
}

// Whether a node of the cluster was left as it was, each named on stderr.
bool reportUnreached(const std::vector<std::string>& unreached, std::string_view done) {
  for (const auto& node : unreached) std::cerr << "quorin: not " << done << " on " << node << "\n";
  return !unreached.empty();
}

int provision(const CloudRequest& request, bool json) {
  auto server = serverOf(request);
  if (!server) return 2;
  std::string error;
  std::vector<std::string> unreached;
  auto url = platform::redis::provisionAccount(*server, request.key, error, unreached);
  if (!url) {
    std::cerr << "quorin: account '" << request.key << "' not provisioned: " << error << "\n";
    return 2;
  }
  if (!error.empty()) std::cerr << "quorin: " << error << "\n";
  if (json) {
    printJson(formats::Dictionary{{"account", request.key}, {"url", *url}});
  } else {
    std::cout << *url << "\n";
  }
  return reportUnreached(unreached, "provisioned") ? 2 : 0;
}

int revoke(const CloudRequest& request) {
  auto server = serverOf(request);
  if (!server) return 2;
  std::string error;
  std::vector<std::string> unreached;
  auto revocation = platform::redis::revokeAccount(*server, request.key, error, unreached);
  reportUnreached(unreached, "revoked");
  switch (revocation) {
    case Revocation::revoked:
      return 0;
    case Revocation::noSuchUser:
      std::cerr << "quorin: the server has no user for account '" << request.key << "'\n";
      return 1;
    case Revocation::failed:
      break;
  }
  std::cerr << "quorin: account '" << request.key << "' not revoked: " << error << "\n";
  return 2;
}

}  // namespace

int runCloudAccountUser(const CloudRequest& request, bool json) {
  return request.action == "provision-account" ? provision(request, json) : revoke(request);
}

void maskCloudSecrets(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string_view argument(argv[i]);
    auto equals = argument.find('=');
    for (std::size_t start : {std::size_t{0}, equals + 1}) {
      if (start <= argument.size() && platform::redis::isRedisUrl(argument.substr(start))) {
        auto masked = platform::redis::maskedUrl(argument.substr(start));
        std::memcpy(argv[i] + start, masked.data(), masked.size());
        break;
      }
    }
  }
}

}  // namespace quorin::cli
