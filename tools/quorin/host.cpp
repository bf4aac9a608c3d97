#include "host.hpp"

#include <iostream>
#include <stdexcept>

#include "json_output.hpp"

namespace quorin::cli {
namespace {

// The library's diagnostic lines go to standard error, so that standard output holds only
// what the command prints (one JSON document with --json).
platform::linux::LinuxPlatformOptions platformOptions(const GlobalOptions& options) {
  return {.container = options.container,
          .infoPlist = options.infoPlist,
          .cloudAccount = options.cloudAccount,
          .keychainKey = options.keychainKey,
          .diagnostics = platform::writeToStandardError};
}

}  // namespace

// The container is checked before the platform is made, so that a refused one is left as
// it was: nothing of the device is set up in it.
Host::Host(const GlobalOptions& options, Facade facade) {
  auto opened = platform::posix::openContainer(options.container);
  if (opened.problem) throw std::runtime_error(*opened.problem);
  if (opened.made)
    std::cerr << "quorin: made a new device at " << options.container.string() << "\n";
  platform = std::make_shared<platform::linux::LinuxPlatform>(platformOptions(options));
  if (const auto& problem = platform->profileProblem()) std::cerr << "quorin: " << *problem << "\n";
  platform::setDefaultPlatform(platform);
  if (facade == Facade::none) return;
  if (facade == Facade::afterExchange) {
    auto store = platform->makeReplicaStore();
    store->exchange();
    firstExchange = store->status();
  }
  client = std::make_unique<QRNQuorinClient>();
}

int printLookup(const std::string& key, const std::optional<std::string>& value, bool json,
                std::string_view place) {
  if (json) {
    printJson(formats::Dictionary{{"key", key},
                                  {"value", value ? formats::Value(*value) : formats::Value()}});
  } else if (value) {
    std::cout << *value << "\n";
  } else {
    std::cerr << "quorin: no value for '" << key << "' in " << place << "\n";
  }
  return value ? 0 : 1;
}

}  // namespace quorin::cli
