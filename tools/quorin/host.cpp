#include "host.hpp"

#include <iostream>

namespace quorin::cli {

Host::Host(const GlobalOptions& options)
    : platform(std::make_shared<platform::posix::PosixPlatform>(
          platform::posix::PosixPlatformOptions{options.container, options.infoPlist})) {
  if (const auto& problem = platform->profileProblem()) std::cerr << "quorin: " << *problem << "\n";
  platform::setDefaultPlatform(platform);
  client = std::make_unique<QRNQuorinClient>();
}

}  // namespace quorin::cli
