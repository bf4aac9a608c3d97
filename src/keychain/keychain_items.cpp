#include "formats/utf8.hpp"
#include "keychain/keychain.hpp"
#include "keychain/no_throw.hpp"

namespace quorin::keychain {
namespace {

namespace sec = platform::sec;
using formats::Dictionary;
using formats::Value;
using platform::OSStatus;

void put(Dictionary& dictionary, std::string_view key, Value value) {
  dictionary.insert_or_assign(std::string(key), std::move(value));
}

// An access-control object the platform refused: its description is the one line written.
[[noreturn]] void throwPlatformError(platform::Platform& platform, platform::Error error) {
  platform.writeDiagnostic(error.localizedDescription());
  throw platform::ErrorException(std::move(error));
}

}  // namespace

std::optional<formats::Data> Keychain::getData(
    const std::string& key, IgnoringAttributeSynchronizable ignoringAttributeSynchronizable) const {
  Dictionary query = options_.baseQuery(ignoringAttributeSynchronizable);
  put(query, sec::kSecMatchLimit, platform::kSecMatchLimitOne());
  put(query, sec::kSecReturnData, true);
  put(query, sec::kSecAttrAccount, key);
  std::optional<Value> result;
  OSStatus status = services().secItemCopyMatching(query, &result);
  if (status == platform::errSecItemNotFound) return std::nullopt;
  if (status != platform::errSecSuccess) throw statusError(*platform_, status);
  const auto* data = result ? result->get<formats::Data>() : nullptr;
  if (data == nullptr) throw StatusError(Status::unexpectedError);
  return std::move(*data);
}

std::optional<std::string> Keychain::getString(
    const std::string& key, IgnoringAttributeSynchronizable ignoringAttributeSynchronizable) const {
  auto data = getData(key, ignoringAttributeSynchronizable);
  if (!data) return std::nullopt;
  std::string text(data->begin(), data->end());
  if (!formats::isValidUtf8(text)) {
    platform_->writeDiagnostic("failed to convert data to string");
    throw StatusError(Status::conversionError);
  }
  return text;
}

std::optional<Attributes> Keychain::getAttributes(
    const std::string& key, IgnoringAttributeSynchronizable ignoringAttributeSynchronizable) const {
  Dictionary query = options_.baseQuery(ignoringAttributeSynchronizable);
  put(query, sec::kSecMatchLimit, platform::kSecMatchLimitOne());
  for (auto kind : {sec::kSecReturnData, sec::kSecReturnAttributes, sec::kSecReturnRef,
                    sec::kSecReturnPersistentRef})
    put(query, kind, true);
  put(query, sec::kSecAttrAccount, key);
  std::optional<Value> result;
  OSStatus status = services().secItemCopyMatching(query, &result);
  if (status == platform::errSecItemNotFound) return std::nullopt;
  if (status != platform::errSecSuccess) throw statusError(*platform_, status);
  auto* attributes = result ? result->get<Dictionary>() : nullptr;
  if (attributes == nullptr) throw StatusError(Status::unexpectedError);
  return Attributes(std::move(*attributes));
}

void Keychain::set(const std::string& value, const std::string& key,
                   IgnoringAttributeSynchronizable ignoringAttributeSynchronizable) const {
  if (!formats::isValidUtf8(value)) {
    platform_->writeDiagnostic("failed to convert string to data");
    throw StatusError(Status::conversionError);
  }
  set(formats::Data(value.begin(), value.end()), key, ignoringAttributeSynchronizable);
}

void Keychain::set(const formats::Data& value, const std::string& key,
                   IgnoringAttributeSynchronizable ignoringAttributeSynchronizable) const {
  Dictionary probe = options_.baseQuery(ignoringAttributeSynchronizable);
  put(probe, sec::kSecAttrAccount, key);
  put(probe, sec::kSecUseAuthenticationUI, std::string(sec::kSecUseAuthenticationUIFail));
  OSStatus status = services().secItemCopyMatching(probe, nullptr);
  if (status == platform::errSecSuccess || status == platform::errSecInteractionNotAllowed) {
    update(key, value);
  } else if (status == platform::errSecItemNotFound) {
    add(key, value);
  } else {
    throw statusError(*platform_, status);
  }
}

Dictionary Keychain::writeAttributes(const std::optional<std::string>& key,
                                     const formats::Data& value) const {
  auto [attributes, error] = options_.itemAttributes(key, value, services());
  if (error) throwPlatformError(*platform_, std::move(*error));
  for (const auto& [name, extra] : options_.attributes) attributes.insert_or_assign(name, extra);
  return std::move(attributes);
}

void Keychain::update(const std::string& key, const formats::Data& value) const {
  Dictionary query = options_.baseQuery(IgnoringAttributeSynchronizable::yes);
  put(query, sec::kSecAttrAccount, key);
  OSStatus status = services().secItemUpdate(query, writeAttributes(std::nullopt, value));
  if (status != platform::errSecSuccess) throw statusError(*platform_, status);
}

// Another writer may add the same item between the probe and the add; the caller asked to
// store a value, so that race ends in one update rather than in duplicateItem.
void Keychain::add(const std::string& key, const formats::Data& value) const {
  OSStatus status = services().secItemAdd(writeAttributes(key, value));
  if (status == platform::errSecDuplicateItem) return update(key, value);
  if (status != platform::errSecSuccess) throw statusError(*platform_, status);
}

void Keychain::remove(const std::string& key,
                      IgnoringAttributeSynchronizable ignoringAttributeSynchronizable) const {
  Dictionary query = options_.baseQuery(ignoringAttributeSynchronizable);
  put(query, sec::kSecAttrAccount, key);
  OSStatus status = services().secItemDelete(query);
  if (status != platform::errSecSuccess && status != platform::errSecItemNotFound)
    throw statusError(*platform_, status);
}

void Keychain::removeAll() const {
  OSStatus status =
      services().secItemDelete(options_.baseQuery(IgnoringAttributeSynchronizable::yes));
  if (status != platform::errSecSuccess && status != platform::errSecItemNotFound)
    throw statusError(*platform_, status);
}

bool Keychain::contains(const std::string& key, bool withoutAuthenticationUI) const {
  Dictionary query = options_.baseQuery(IgnoringAttributeSynchronizable::yes);
  put(query, sec::kSecAttrAccount, key);
  if (withoutAuthenticationUI)
    put(query, sec::kSecUseAuthenticationUI, std::string(sec::kSecUseAuthenticationUIFail));
  OSStatus status = services().secItemCopyMatching(query, nullptr);
  if (status == platform::errSecSuccess) return true;
  if (status == platform::errSecItemNotFound) return false;
  if (status == platform::errSecInteractionNotAllowed) return withoutAuthenticationUI;
  throw statusError(*platform_, status);
}

std::optional<std::string> Keychain::string(const std::string& key) const {
  return absentOnError([&] { return getString(key); });
}

void Keychain::setString(const std::string& key, const std::optional<std::string>& value) const {
  ignoringErrors([&] { value ? set(*value, key) : remove(key); });
}

std::optional<formats::Data> Keychain::data(const std::string& key) const {
  return absentOnError([&] { return getData(key); });
}

void Keychain::setData(const std::string& key, const std::optional<formats::Data>& value) const {
  ignoringErrors([&] { value ? set(*value, key) : remove(key); });
}

std::optional<Attributes> Keychain::attributes(const std::string& key) const {
  return absentOnError([&] { return getAttributes(key, IgnoringAttributeSynchronizable::yes); });
}

}  // namespace quorin::keychain
