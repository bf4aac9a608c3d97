#include "host.hpp"

#include <iostream>

#include "platform/posix/json_writer.hpp"

namespace quorin::cli {

Host::Host(const GlobalOptions& options)
    : platform(std::make_shared<platform::posix::PosixPlatform>(
          platform::posix::PosixPlatformOptions{.container = options.container,
                                                .infoPlist = options.infoPlist,
                                                .cloudAccount = options.cloudAccount})) {
  if (const auto& problem = platform->profileProblem()) std::cerr << "quorin: " << *problem << "\n";
  platform::setDefaultPlatform(platform);
  client = std::make_unique<QRNQuorinClient>();
}

void printJson(const platform::Value& value) {
  std::cout << platform::posix::writeJson(value).value_or("null") << "\n";
}

}  // namespace quorin::cli
