#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "keychain/attributes.hpp"
#include "keychain/options.hpp"
#include "keychain/status.hpp"
#include "platform/platform.hpp"

namespace quorin::keychain {

// One slice of the platform keychain: a service, or a server with protocol and
// authentication scheme, optionally in an access group. Immutable: each builder returns a
// new keychain. Safe to share between threads.
//
// Operations that throw raise StatusError for a failed result code (after the diagnostic
// line) or platform::ErrorException when an access-control object cannot be made.
// Listings, descriptions and subscripts never throw.
class Keychain {
 public:
  using Ptr = std::shared_ptr<const Keychain>;
  using ItemSummary = formats::Dictionary;

  // What a shared web credential callback gets as its error: the platform's error, or param
  // when the keychain's server has no host.
  using SharedCredentialError = std::variant<Status, platform::Error>;
  // Up to three entries: "server", "account" and "password".
  using Credential = std::map<std::string, std::string>;
  using CredentialsCallback =
      std::function<void(std::vector<Credential>, std::optional<SharedCredentialError>)>;
  using SharedPasswordCallback =
      std::function<void(std::optional<std::string> account, std::optional<std::string> password,
                         std::optional<SharedCredentialError>)>;
  using PasswordCallback = std::function<void(std::optional<std::string> password,
                                              std::optional<SharedCredentialError>)>;
  using CompletionCallback = std::function<void(std::optional<SharedCredentialError>)>;

  Keychain(std::shared_ptr<platform::Platform> platform, Options options);

  // init(): the main bundle's identifier as service.
  static Ptr make(std::shared_ptr<platform::Platform> platform);
  static Ptr withService(std::shared_ptr<platform::Platform> platform, std::string service);
  static Ptr withAccessGroup(std::shared_ptr<platform::Platform> platform, std::string accessGroup);
  static Ptr withService(std::shared_ptr<platform::Platform> platform, std::string service,
                         std::string accessGroup);
  static Ptr withServer(std::shared_ptr<platform::Platform> platform, formats::Url server,
                        ProtocolType protocolType, std::optional<std::string> accessGroup = {},
                        AuthenticationType authenticationType = AuthenticationType::default_);
  // Throws std::invalid_argument when `server` is not a URL.
  static Ptr withServer(std::shared_ptr<platform::Platform> platform, std::string_view server,
                        ProtocolType protocolType, std::optional<std::string> accessGroup = {},
                        AuthenticationType authenticationType = AuthenticationType::default_);

  const Options& options() const { return options_; }
  ItemClass itemClass() const { return options_.itemClass; }
  const std::string& service() const { return options_.service; }
  const std::optional<std::string>& accessGroup() const { return options_.accessGroup; }
  // Only for keychains made with a server; std::logic_error otherwise.
  const formats::Url& server() const;
  ProtocolType protocolType() const;
  AuthenticationType authenticationType() const { return options_.authenticationType; }
  Accessibility accessibility() const { return options_.accessibility; }
  const std::optional<AuthenticationPolicy>& authenticationPolicy() const {
    return options_.authenticationPolicy;
  }
  bool synchronizable() const { return options_.synchronizable; }
  const std::optional<std::string>& label() const { return options_.label; }
  const std::optional<std::string>& comment() const { return options_.comment; }
  const std::optional<std::string>& authenticationPrompt() const {
    return options_.authenticationPrompt;
  }
  const std::shared_ptr<const platform::AuthenticationContext>& authenticationContext() const {
    return options_.authenticationContext;
  }

  Ptr accessibility(Accessibility accessibility) const;
  Ptr accessibility(Accessibility accessibility, AuthenticationPolicy authenticationPolicy) const;
  Ptr synchronizable(bool synchronizable) const;
  Ptr label(std::string label) const;
  Ptr comment(std::string comment) const;
  Ptr attributes(const formats::Dictionary& attributes) const;
  Ptr authenticationPrompt(std::string authenticationPrompt) const;
  Ptr authenticationContext(std::shared_ptr<const platform::AuthenticationContext> context) const;

  std::optional<std::string> getString(
      const std::string& key, IgnoringAttributeSynchronizable ignoringAttributeSynchronizable =
                                  IgnoringAttributeSynchronizable::yes) const;
  std::optional<std::string> get(const std::string& key,
                                 IgnoringAttributeSynchronizable ignoringAttributeSynchronizable =
                                     IgnoringAttributeSynchronizable::yes) const {
    return getString(key, ignoringAttributeSynchronizable);
  }
  std::optional<formats::Data> getData(
      const std::string& key, IgnoringAttributeSynchronizable ignoringAttributeSynchronizable =
                                  IgnoringAttributeSynchronizable::yes) const;
  template <typename Result>
  Result get(const std::string& key,
             IgnoringAttributeSynchronizable ignoringAttributeSynchronizable,
             const std::function<Result(const std::optional<Attributes>&)>& handler) const {
    return handler(getAttributes(key, ignoringAttributeSynchronizable));
  }
  void set(const std::string& value, const std::string& key,
           IgnoringAttributeSynchronizable ignoringAttributeSynchronizable =
               IgnoringAttributeSynchronizable::yes) const;
  void set(const formats::Data& value, const std::string& key,
           IgnoringAttributeSynchronizable ignoringAttributeSynchronizable =
               IgnoringAttributeSynchronizable::yes) const;
  void remove(const std::string& key,
              IgnoringAttributeSynchronizable ignoringAttributeSynchronizable =
                  IgnoringAttributeSynchronizable::yes) const;
  void removeAll() const;
  bool contains(const std::string& key, bool withoutAuthenticationUI = false) const;

  static std::vector<std::pair<std::string, std::string>> allKeys(platform::Platform& platform,
                                                                  ItemClass itemClass);
  std::vector<std::string> allKeys() const;
  static std::vector<ItemSummary> allItems(platform::Platform& platform, ItemClass itemClass);
  std::vector<ItemSummary> allItems() const;
  // As allItems(), but a failed listing throws StatusError instead of listing nothing.
  std::vector<ItemSummary> items() const;

  // The subscripts: reads give absent on any error, writes drop errors; absent removes.
  std::optional<std::string> operator[](const std::string& key) const { return string(key); }
  std::optional<std::string> string(const std::string& key) const;
  void setString(const std::string& key, const std::optional<std::string>& value) const;
  std::optional<formats::Data> data(const std::string& key) const;
  void setData(const std::string& key, const std::optional<formats::Data>& value) const;
  std::optional<Attributes> attributes(const std::string& key) const;

  // Shared web credentials of the server's host. Callbacks run once, on the platform's
  // thread; when the server has no host, at once on the caller's, with param. Only for
  // keychains made with a server; std::logic_error otherwise.
  void getSharedPassword(SharedPasswordCallback completion) const;
  void getSharedPassword(const std::string& account, PasswordCallback completion) const;
  void setSharedPassword(const std::string& password, const std::string& account,
                         CompletionCallback completion) const;
  void removeSharedPassword(const std::string& account, CompletionCallback completion) const;

  static void requestSharedWebCredential(platform::Platform& platform,
                                         CredentialsCallback completion);
  static void requestSharedWebCredential(platform::Platform& platform, const std::string& domain,
                                         CredentialsCallback completion);
  static void requestSharedWebCredential(platform::Platform& platform, const std::string& domain,
                                         const std::string& account,
                                         CredentialsCallback completion);
  static std::string generatePassword(platform::Platform& platform);

  std::string description() const;
  std::string debugDescription() const;

 private:
  Ptr derive(const std::function<void(Options&)>& change) const;
  std::optional<Attributes> getAttributes(
      const std::string& key,
      IgnoringAttributeSynchronizable ignoringAttributeSynchronizable) const;
  void update(const std::string& key, const formats::Data& value) const;
  void add(const std::string& key, const formats::Data& value) const;
  formats::Dictionary writeAttributes(const std::optional<std::string>& key,
                                      const formats::Data& value) const;
  formats::Dictionary listingQuery() const;
  std::vector<formats::Dictionary> rawItems() const;
  // The server's host; none (after param's diagnostic line) when it has no host.
  std::optional<std::string> sharedCredentialDomain() const;
  void writeSharedPassword(const std::optional<std::string>& password, const std::string& account,
                           CompletionCallback completion) const;
  platform::KeychainServices& services() const { return platform_->keychainServices(); }

  std::shared_ptr<platform::Platform> platform_;
  Options options_;
};

// The readable form of listed items, in the platform's order.
std::vector<Keychain::ItemSummary> itemSummaries(ItemClass itemClass,
                                                 const std::vector<formats::Dictionary>& items);

// The textual form of a value, as descriptions print dictionaries and lists.
std::string describe(const formats::Value& value);

}  // namespace quorin::keychain
