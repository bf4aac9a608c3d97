#include "host.hpp"

#include <iostream>

#include "formats/json.hpp"

namespace quorin::cli {

Host::Host(const GlobalOptions& options, bool exchangeCloudFirst)
    : platform(std::make_shared<platform::posix::PosixPlatform>(
          platform::posix::PosixPlatformOptions{.container = options.container,
                                                .infoPlist = options.infoPlist,
                                                .cloudAccount = options.cloudAccount,
                                                .keychainKey = options.keychainKey})) {
  if (const auto& problem = platform->profileProblem()) std::cerr << "quorin: " << *problem << "\n";
  platform::setDefaultPlatform(platform);
  if (exchangeCloudFirst) {
    auto store = platform->makeReplicaStore();
    store->exchange();
    firstExchange = store->status();
  }
  client = std::make_unique<QRNQuorinClient>();
}

void printJson(const platform::Value& value) {
  std::cout << platform::writeJson(value).value_or("null") << "\n";
}

int printLookup(const std::string& key, const std::optional<std::string>& value, bool json,
                std::string_view place) {
  if (json) {
    printJson(platform::Dictionary{{"key", key},
                                   {"value", value ? platform::Value(*value) : platform::Value()}});
  } else if (value) {
    std::cout << *value << "\n";
  } else {
    std::cerr << "quorin: no value for '" << key << "' in " << place << "\n";
  }
  return value ? 0 : 1;
}

}  // namespace quorin::cli
