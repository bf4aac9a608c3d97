#include "keychain/keychain.hpp"

#include <stdexcept>

namespace quorin::keychain {
namespace {

std::string bundleIdentifier(platform::Platform& platform) {
  auto identifier = platform.mainBundle().objectForInfoDictionaryKey("CFBundleIdentifier");
  const auto* text = identifier ? identifier->get<std::string>() : nullptr;
  return text ? *text : std::string();
}

}  // namespace

Keychain::Keychain(std::shared_ptr<platform::Platform> platform, Options options)
    : platform_(std::move(platform)), options_(std::move(options)) {}

Keychain::Ptr Keychain::make(std::shared_ptr<platform::Platform> platform) {
  Options options;
  options.service = bundleIdentifier(*platform);
  return std::make_shared<const Keychain>(std::move(platform), std::move(options));
}

Keychain::Ptr Keychain::withService(std::shared_ptr<platform::Platform> platform,
                                    std::string service) {
  Options options;
  options.service = std::move(service);
  return std::make_shared<const Keychain>(std::move(platform), std::move(options));
}

Keychain::Ptr Keychain::withAccessGroup(std::shared_ptr<platform::Platform> platform,
                                        std::string accessGroup) {
  Options options;
  options.service = bundleIdentifier(*platform);
  options.accessGroup = std::move(accessGroup);
  return std::make_shared<const Keychain>(std::move(platform), std::move(options));
}

Keychain::Ptr Keychain::withService(std::shared_ptr<platform::Platform> platform,
                                    std::string service, std::string accessGroup) {
  Options options;
  options.service = std::move(service);
  options.accessGroup = std::move(accessGroup);
  return std::make_shared<const Keychain>(std::move(platform), std::move(options));
}

Keychain::Ptr Keychain::withServer(std::shared_ptr<platform::Platform> platform,
                                   formats::Url server, ProtocolType protocolType,
                                   std::optional<std::string> accessGroup,
                                   AuthenticationType authenticationType) {
  Options options;
  options.itemClass = ItemClass::internetPassword;
  options.accessGroup = std::move(accessGroup);
  options.server = std::move(server);
  options.protocolType = protocolType;
  options.authenticationType = authenticationType;
  return std::make_shared<const Keychain>(std::move(platform), std::move(options));
}

Keychain::Ptr Keychain::withServer(std::shared_ptr<platform::Platform> platform,
                                   std::string_view server, ProtocolType protocolType,
                                   std::optional<std::string> accessGroup,
                                   AuthenticationType authenticationType) {
  auto url = formats::Url::fromString(server);
  if (!url) throw std::invalid_argument("not a URL: " + std::string(server));
  return withServer(std::move(platform), std::move(*url), protocolType, std::move(accessGroup),
                    authenticationType);
}

const formats::Url& Keychain::server() const {
  if (!options_.server) throw std::logic_error("a generic-password keychain has no server");
  return *options_.server;
}

ProtocolType Keychain::protocolType() const {
  if (!options_.protocolType) throw std::logic_error("a generic-password keychain has no protocol");
  return *options_.protocolType;
}

Keychain::Ptr Keychain::derive(const std::function<void(Options&)>& change) const {
  Options copy = options_;
  change(copy);
  return std::make_shared<const Keychain>(platform_, std::move(copy));
}

Keychain::Ptr Keychain::accessibility(Accessibility accessibility) const {
  return derive([&](Options& o) { o.accessibility = accessibility; });
}
Keychain::Ptr Keychain::accessibility(Accessibility accessibility,
                                      AuthenticationPolicy authenticationPolicy) const {
  return derive([&](Options& o) {
    o.accessibility = accessibility;
    o.authenticationPolicy = authenticationPolicy;
  });
}
Keychain::Ptr Keychain::synchronizable(bool synchronizable) const {
  return derive([&](Options& o) { o.synchronizable = synchronizable; });
}
Keychain::Ptr Keychain::label(std::string label) const {
  return derive([&](Options& o) { o.label = std::move(label); });
}
Keychain::Ptr Keychain::comment(std::string comment) const {
  return derive([&](Options& o) { o.comment = std::move(comment); });
}
Keychain::Ptr Keychain::attributes(const formats::Dictionary& attributes) const {
  return derive([&](Options& o) {
    for (const auto& [key, value] : attributes) o.attributes.insert_or_assign(key, value);
  });
}
Keychain::Ptr Keychain::authenticationPrompt(std::string authenticationPrompt) const {
  return derive([&](Options& o) { o.authenticationPrompt = std::move(authenticationPrompt); });
}
Keychain::Ptr Keychain::authenticationContext(
    std::shared_ptr<const platform::AuthenticationContext> context) const {
  return derive([&](Options& o) { o.authenticationContext = std::move(context); });
}

}  // namespace quorin::keychain
