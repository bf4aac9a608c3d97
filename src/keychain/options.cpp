#include "keychain/options.hpp"

#include "keychain/status.hpp"

namespace quorin::keychain {

namespace sec = platform::sec;
using formats::Value;

formats::Dictionary Options::baseQuery(
    IgnoringAttributeSynchronizable ignoringAttributeSynchronizable) const {
  formats::Dictionary query;
  query[std::string(sec::kSecClass)] = std::string(rawValue(itemClass));
  if (accessGroup) query[std::string(sec::kSecAttrAccessGroup)] = *accessGroup;
  query[std::string(sec::kSecAttrSynchronizable)] =
      ignoringAttributeSynchronizable == IgnoringAttributeSynchronizable::yes
          ? Value(platform::kSecAttrSynchronizableAny())
          : Value(synchronizable);
  if (itemClass == ItemClass::genericPassword) {
    query[std::string(sec::kSecAttrService)] = service;
  } else {
    if (server->host) query[std::string(sec::kSecAttrServer)] = *server->host;
    if (server->port) query[std::string(sec::kSecAttrPort)] = *server->port;
    query[std::string(sec::kSecAttrProtocol)] = std::string(rawValue(*protocolType));
    query[std::string(sec::kSecAttrAuthenticationType)] = std::string(rawValue(authenticationType));
  }
  if (authenticationPrompt) query[std::string(sec::kSecUseOperationPrompt)] = *authenticationPrompt;
  if (authenticationContext)
    query[std::string(sec::kSecUseAuthenticationContext)] =
        formats::ObjectRef(authenticationContext);
  return query;
}

std::pair<formats::Dictionary, std::optional<platform::Error>> Options::itemAttributes(
    const std::optional<std::string>& key, const formats::Data& value,
    platform::KeychainServices& services) const {
  formats::Dictionary result;
  if (key) {
    result = baseQuery(IgnoringAttributeSynchronizable::yes);
    result[std::string(sec::kSecAttrAccount)] = *key;
  }
  result[std::string(sec::kSecValueData)] = value;
  if (label) result[std::string(sec::kSecAttrLabel)] = *label;
  if (comment) result[std::string(sec::kSecAttrComment)] = *comment;
  if (!authenticationPolicy) {
    result[std::string(sec::kSecAttrAccessible)] = std::string(rawValue(accessibility));
  } else {
    std::optional<platform::Error> error;
    auto accessControl = services.secAccessControlCreateWithFlags(
        rawValue(accessibility), authenticationPolicy->rawValue, &error);
    if (!accessControl) {
      return {std::move(result),
              error ? std::move(error) : toPlatformError(Status::unexpectedError)};
    }
    result[std::string(sec::kSecAttrAccessControl)] = formats::ObjectRef(accessControl);
  }
  result[std::string(sec::kSecAttrSynchronizable)] = synchronizable;
  return {std::move(result), std::nullopt};
}

}  // namespace quorin::keychain
