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
  cloudStore_ = cloud::CloudKeyValueStore::make(
      *platform_, [weak = weak_from_this()](auto reason, const auto& keys) {
        if (auto self = weak.lock()) self->relayCloudChange(reason, keys);
      });
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
  onCloudStoreChange_ = nullptr;
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
void QuorinClient::setOnCloudStoreChange(QRNCloudChangeCallback callback) {
  onCloudStoreChange_ = std::move(callback);
}

// Through a copy, so that the callback may replace itself or dispose the client.
void QuorinClient::relayCloudChange(platform::UbiquitousChangeReason reason,
                                    const std::vector<std::string>& keys) const {
  if (QRNCloudChangeCallback callback = onCloudStoreChange_)
    callback(static_cast<QRNCloudChangeReason>(reason), keys);
}

}  // namespace quorin
