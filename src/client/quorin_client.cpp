#include "client/quorin_client.hpp"

namespace quorin {

QuorinClient::QuorinClient(std::shared_ptr<platform::Platform> platform)
    : platform_(std::move(platform)),
      paymentQueue_(platform_->paymentQueue()),
      storefrontQueue_(platform_->dispatch().makeConcurrentQueue(
          std::string(storefrontQueueLabel), platform::QualityOfService::userInteractive)) {}

QuorinClient::~QuorinClient() {
  paymentQueue_.removeTransactionObserver(this);
  stopObservingLifecycle();
}

void QuorinClient::setup() {
  cloudStore_ = CloudKeyValueStore::make(*platform_);
  refreshStorefront();
  paymentQueue_.addTransactionObserver(weak_from_this());
  observeLifecycle();
}

void QuorinClient::dispose() {
  cloudStore_.reset();
  onCloudStoreValueFetched_ = nullptr;
  onApplicationEnterForeground_ = nullptr;
  onApplicationEnterBackground_ = nullptr;
  onApplicationWillResignActive_ = nullptr;
  onApplicationDidBecomeActive_ = nullptr;
  paymentQueue_.removeTransactionObserver(this);
  stopObservingLifecycle();
}

void QuorinClient::setOnCloudStoreValueFetched(QRNCloudValueCallback callback) {
  onCloudStoreValueFetched_ = std::move(callback);
}
void QuorinClient::setOnApplicationEnterForeground(QRNLifecycleCallback callback) {
  onApplicationEnterForeground_ = std::move(callback);
}
void QuorinClient::setOnApplicationEnterBackground(QRNLifecycleCallback callback) {
  onApplicationEnterBackground_ = std::move(callback);
}
void QuorinClient::setOnApplicationDidBecomeActive(QRNLifecycleCallback callback) {
  onApplicationDidBecomeActive_ = std::move(callback);
}
void QuorinClient::setOnApplicationWillResignActive(QRNLifecycleCallback callback) {
  onApplicationWillResignActive_ = std::move(callback);
}

}  // namespace quorin
