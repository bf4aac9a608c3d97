#include "client/quorin_client.hpp"
#include "keychain/no_throw.hpp"

namespace quorin {
using keychain::absentOnError;
using keychain::ignoringErrors;
using keychain::Keychain;

const Keychain& QuorinClient::keychain() {
  if (!keychain_) keychain_ = Keychain::withService(platform_, std::string(quorinDomain));
  return *keychain_;
}

std::optional<std::string> QuorinClient::getStringValueInKeychain(const std::string& key) {
  return absentOnError(
      [&] { return keychain().getString(key, keychain::IgnoringAttributeSynchronizable::yes); });
}

void QuorinClient::setStringValueInKeychain(const std::string& value, const std::string& key) {
  ignoringErrors(
      [&] { keychain().set(value, key, keychain::IgnoringAttributeSynchronizable::yes); });
}

void QuorinClient::removeValueInKeychain(const std::string& key) {
  ignoringErrors([&] { keychain().remove(key, keychain::IgnoringAttributeSynchronizable::yes); });
}

void QuorinClient::clearKeychains() {
  for (auto domain : {quorinDomain, morventDomain}) {
    ignoringErrors([&] { Keychain::withService(platform_, std::string(domain))->removeAll(); });
  }
}

// The host may dispose or replace the callback from inside it: the store is held for the
// call and the callback is called through a copy, as the lifecycle relay does.
void QuorinClient::fetchValueFromCloudStore(const std::string& key) {
  auto store = cloudStore_;
  if (!store) return;
  store->fetchValue(key, [weak = weak_from_this(), key](const auto& value) {
    auto self = weak.lock();
    if (!self) return;
    if (QRNCloudValueCallback callback = self->onCloudStoreValueFetched_) callback(key, value);
  });
}

void QuorinClient::setValueToCloudStore(const std::string& value, const std::string& key) {
  if (cloudStore_) cloudStore_->setValue(value, key);
}

void QuorinClient::removeValueFromCloudStore(const std::string& key) {
  if (cloudStore_) cloudStore_->removeValue(key);
}

}  // namespace quorin
