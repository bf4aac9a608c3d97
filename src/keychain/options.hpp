#pragma once

#include <optional>
#include <string>
#include <utility>

#include "formats/url.hpp"
#include "keychain/value_types.hpp"
#include "platform/keychain_services.hpp"

namespace quorin::keychain {

// Whether a call reaches the items of either synchronizable state (`yes`), or only those
// whose state is this keychain's own setting (`no`).
enum class IgnoringAttributeSynchronizable : bool { no = false, yes = true };

// What a keychain selects and how it writes. itemClass is internetPassword exactly when
// server and protocolType are present.
struct Options {
  ItemClass itemClass = ItemClass::genericPassword;
  std::string service;
  std::optional<std::string> accessGroup;
  std::optional<formats::Url> server;
  std::optional<ProtocolType> protocolType;
  AuthenticationType authenticationType = AuthenticationType::default_;
  Accessibility accessibility = Accessibility::afterFirstUnlock;
  std::optional<AuthenticationPolicy> authenticationPolicy;
  bool synchronizable = false;
  std::optional<std::string> label;
  std::optional<std::string> comment;
  std::optional<std::string> authenticationPrompt;
  std::shared_ptr<const platform::AuthenticationContext> authenticationContext;
  // Extra attributes written with every item; never part of a query.
  formats::Dictionary attributes;

  // The query that selects the keychain's items.
  formats::Dictionary baseQuery(
      IgnoringAttributeSynchronizable ignoringAttributeSynchronizable) const;

  // The attributes an item is added (with a key) or updated (without) with. When the
  // access-control object cannot be made, the error comes with the dictionary built so far.
  std::pair<formats::Dictionary, std::optional<platform::Error>> itemAttributes(
      const std::optional<std::string>& key, const formats::Data& value,
      platform::KeychainServices& services) const;
};

}  // namespace quorin::keychain
