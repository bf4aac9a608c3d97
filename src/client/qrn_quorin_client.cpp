#include "client/quorin_client.hpp"
#include "platform/host_device.hpp"
#include "quorin/quorin_client.hpp"

using quorin::QuorinClient;

QRNQuorinClient::QRNQuorinClient() : QRNQuorinClient(quorin::platform::defaultPlatform()) {}

QRNQuorinClient::QRNQuorinClient(std::shared_ptr<quorin::platform::Platform> platform)
    : platform_(platform ? std::move(platform) : quorin::platform::defaultPlatform()) {
  init();
}

void QRNQuorinClient::init() {
  auto client = std::make_shared<QuorinClient>(platform_);
  client->setup();
  client_ = std::move(client);
}

QRNQuorinClient::~QRNQuorinClient() = default;

bool QRNQuorinClient::useKeychainKey(std::span<const std::uint8_t> key) {
  return quorin::platform::setDefaultKeychainKey(key);
}

QRNDeviceStatus QRNQuorinClient::useDevice(const QRNDeviceOptions& options) {
  try {
    return quorin::platform::useHostDevice(options);
  } catch (...) {
    return QRNDeviceStatus::failed;
  }
}

QRNDeviceStatus QRNQuorinClient::openDevice(const QRNDeviceOptions& options,
                                            std::shared_ptr<quorin::platform::Platform>& device) {
  try {
    return quorin::platform::openHostDevice(options, device);
  } catch (...) {
    device.reset();
    return QRNDeviceStatus::failed;
  }
}

void QRNQuorinClient::useDiagnosticHandler(QRNDiagnosticHandler handler) {
  quorin::platform::setHostDiagnosticSink(std::move(handler));
}

namespace {

// Like a message to nil, a call without a client has no effect and answers nil, false or "".
template <typename Result, typename Method, typename... Arguments>
Result forward(const std::shared_ptr<QuorinClient>& client, Result fallback, Method method,
               Arguments&&... arguments) {
  if (!client) return fallback;
  return ((*client).*method)(std::forward<Arguments>(arguments)...);
}

}  // namespace

void QRNQuorinClient::dispose() {
  if (client_) client_->dispose();
}

void QRNQuorinClient::setOnCloudStoreValueFetched(QRNCloudValueCallback callback) {
  if (client_) client_->setOnCloudStoreValueFetched(std::move(callback));
}
void QRNQuorinClient::setOnApplicationEnterForeground(QRNLifecycleCallback callback) {
  if (client_) client_->setOnApplicationEnterForeground(std::move(callback));
}
void QRNQuorinClient::setOnApplicationEnterBackground(QRNLifecycleCallback callback) {
  if (client_) client_->setOnApplicationEnterBackground(std::move(callback));
}
void QRNQuorinClient::setOnApplicationDidBecomeActive(QRNLifecycleCallback callback) {
  if (client_) client_->setOnApplicationDidBecomeActive(std::move(callback));
}
void QRNQuorinClient::setOnApplicationWillResignActive(QRNLifecycleCallback callback) {
  if (client_) client_->setOnApplicationWillResignActive(std::move(callback));
}
void QRNQuorinClient::setOnCloudStoreChange(QRNCloudChangeCallback callback) {
  if (client_) client_->setOnCloudStoreChange(std::move(callback));
}

QRNCloudValueCallback QRNQuorinClient::onCloudStoreValueFetched() const {
  return forward(client_, QRNCloudValueCallback(), &QuorinClient::onCloudStoreValueFetched);
}
QRNLifecycleCallback QRNQuorinClient::onApplicationEnterForeground() const {
  return forward(client_, QRNLifecycleCallback(), &QuorinClient::onApplicationEnterForeground);
}
QRNLifecycleCallback QRNQuorinClient::onApplicationEnterBackground() const {
  return forward(client_, QRNLifecycleCallback(), &QuorinClient::onApplicationEnterBackground);
}
QRNLifecycleCallback QRNQuorinClient::onApplicationDidBecomeActive() const {
  return forward(client_, QRNLifecycleCallback(), &QuorinClient::onApplicationDidBecomeActive);
}
QRNLifecycleCallback QRNQuorinClient::onApplicationWillResignActive() const {
  return forward(client_, QRNLifecycleCallback(), &QuorinClient::onApplicationWillResignActive);
}
QRNCloudChangeCallback QRNQuorinClient::onCloudStoreChange() const {
  return forward(client_, QRNCloudChangeCallback(), &QuorinClient::onCloudStoreChange);
}

std::string QRNQuorinClient::deviceModel() const {
  return forward(client_, std::string(), &QuorinClient::deviceModel);
}
std::string QRNQuorinClient::osVersion() const {
  return forward(client_, std::string(), &QuorinClient::osVersion);
}
std::string QRNQuorinClient::buildNumber() const {
  return forward(client_, std::string(), &QuorinClient::buildNumber);
}
bool QRNQuorinClient::isTablet() const {
  return forward(client_, false, &QuorinClient::isTablet);
}
void QRNQuorinClient::setIsTablet(bool) {}
std::string QRNQuorinClient::languageWithRegion() const {
  return forward(client_, std::string(), &QuorinClient::languageWithRegion);
}
std::optional<std::string> QRNQuorinClient::idfa() const {
  return forward(client_, std::optional<std::string>(), &QuorinClient::idfa);
}
std::optional<std::string> QRNQuorinClient::idfv() const {
  return forward(client_, std::optional<std::string>(), &QuorinClient::idfv);
}
std::optional<std::string> QRNQuorinClient::encodedDeviceIdentifier() const {
  return forward(client_, std::optional<std::string>(), &QuorinClient::encodedDeviceIdentifier);
}
std::optional<std::string> QRNQuorinClient::storeCountry() const {
  return forward(client_, std::optional<std::string>(), &QuorinClient::storeCountry);
}
bool QRNQuorinClient::isApplicationInstalledForScheme(const std::string& scheme) const {
  return forward(client_, false, &QuorinClient::isApplicationInstalled, scheme);
}

std::optional<std::string> QRNQuorinClient::getStringValueInKeychainForKey(const std::string& key) {
  return forward(client_, std::optional<std::string>(), &QuorinClient::getStringValueInKeychain,
                 key);
}
void QRNQuorinClient::setStringValueInKeychain(const std::string& value, const std::string& key) {
  if (client_) client_->setStringValueInKeychain(value, key);
}
void QRNQuorinClient::removeValueInKeychainForKey(const std::string& key) {
  if (client_) client_->removeValueInKeychain(key);
}
std::optional<std::string> QRNQuorinClient::collectMigrationData() {
  return forward(client_, std::optional<std::string>(), &QuorinClient::collectMigrationData);
}

void QRNQuorinClient::clearDataAfterMigration() {
  if (client_) client_->clearDataAfterMigration();
}

void QRNQuorinClient::clearKeychains() {
  if (client_) client_->clearKeychains();
}
void QRNQuorinClient::fetchValueFromCloudStoreForKey(const std::string& key) {
  if (client_) client_->fetchValueFromCloudStore(key);
}
void QRNQuorinClient::setValueToCloudStore(const std::string& value, const std::string& key) {
  if (client_) client_->setValueToCloudStore(value, key);
}
void QRNQuorinClient::removeValueFromCloudStoreForKey(const std::string& key) {
  if (client_) client_->removeValueFromCloudStore(key);
}

std::shared_ptr<QuorinClient> QRNQuorinClient::swiftClient() const {
  return client_;
}
void QRNQuorinClient::setSwiftClient(std::shared_ptr<QuorinClient> client) {
  client_ = std::move(client);
}
