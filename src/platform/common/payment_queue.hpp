#pragma once

#include <mutex>
#include <vector>

#include "platform/store_kit.hpp"

namespace quorin::platform::common {

// StoreKit's default queue without an App Store: the host (or a test) sets the current
// storefront and reports transactions; observers hear of both on the reporting thread.
class SimulatedPaymentQueue final : public PaymentQueue {
 public:
  explicit SimulatedPaymentQueue(std::optional<Storefront> storefront = std::nullopt);

  void addTransactionObserver(std::weak_ptr<PaymentTransactionObserver> observer) override;
  void removeTransactionObserver(const PaymentTransactionObserver* observer) override;
  std::optional<Storefront> storefront() const override;

  // Replaces the current storefront and tells every observer that it changed.
  void changeStorefront(std::optional<Storefront> storefront);
  void reportUpdatedTransactions(const std::vector<PaymentTransaction>& transactions);

  std::size_t observerCount() const;

 private:
  std::vector<std::shared_ptr<PaymentTransactionObserver>> liveObservers() const;

  mutable std::mutex mutex_;
  std::optional<Storefront> storefront_;
  struct Observer {
    std::weak_ptr<PaymentTransactionObserver> weak;
    // Compared without locking `weak`: a lock taken here could end an observer's life, and
    // so run its destructor, under `mutex_`.
    const PaymentTransactionObserver* address;
  };
  std::vector<Observer> observers_;
};

}  // namespace quorin::platform::common
