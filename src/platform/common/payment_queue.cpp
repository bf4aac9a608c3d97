#include "platform/common/payment_queue.hpp"

#include <algorithm>

namespace quorin::platform::common {

SimulatedPaymentQueue::SimulatedPaymentQueue(std::optional<Storefront> storefront)
    : storefront_(std::move(storefront)) {}

void SimulatedPaymentQueue::addTransactionObserver(
    std::weak_ptr<PaymentTransactionObserver> observer) {
  const auto* address = observer.lock().get();
  std::lock_guard lock(mutex_);
  observers_.push_back({std::move(observer), address});
}

void SimulatedPaymentQueue::removeTransactionObserver(const PaymentTransactionObserver* observer) {
  std::lock_guard lock(mutex_);
  std::erase_if(observers_, [&](const Observer& entry) {
    return entry.address == observer || entry.weak.expired();
  });
}

std::optional<Storefront> SimulatedPaymentQueue::storefront() const {
  std::lock_guard lock(mutex_);
  return storefront_;
}

std::vector<std::shared_ptr<PaymentTransactionObserver>> SimulatedPaymentQueue::liveObservers()
    const {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<PaymentTransactionObserver>> live;
  for (const auto& entry : observers_) {
    if (auto strong = entry.weak.lock()) live.push_back(std::move(strong));
  }
  return live;
}

void SimulatedPaymentQueue::changeStorefront(std::optional<Storefront> storefront) {
  {
    std::lock_guard lock(mutex_);
    storefront_ = std::move(storefront);
  }
  for (const auto& observer : liveObservers()) observer->paymentQueueDidChangeStorefront(*this);
}

void SimulatedPaymentQueue::reportUpdatedTransactions(
    const std::vector<PaymentTransaction>& transactions) {
  for (const auto& observer : liveObservers()) observer->paymentQueue(*this, transactions);
}

std::size_t SimulatedPaymentQueue::observerCount() const {
  return liveObservers().size();
}

}  // namespace quorin::platform::common
