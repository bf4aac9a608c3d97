#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorin::platform {

struct Storefront {
  std::string countryCode;  // ISO 3166-1 alpha-3, such as "USA"
  std::string identifier;
  friend bool operator==(const Storefront&, const Storefront&) = default;
};

struct PaymentTransaction {
  std::string transactionIdentifier;
  std::string productIdentifier;
};

class PaymentQueue;

class PaymentTransactionObserver {
 public:
  virtual ~PaymentTransactionObserver() = default;
  virtual void paymentQueue(PaymentQueue& queue,
                            const std::vector<PaymentTransaction>& updatedTransactions) = 0;
  virtual void paymentQueueDidChangeStorefront(PaymentQueue& queue) = 0;
};

// The default payment queue. Safe to use from any thread; observers are held weakly and
// called on the thread that reports the event.
class PaymentQueue {
 public:
  virtual ~PaymentQueue() = default;
  virtual void addTransactionObserver(std::weak_ptr<PaymentTransactionObserver> observer) = 0;
  virtual void removeTransactionObserver(const PaymentTransactionObserver* observer) = 0;
  virtual std::optional<Storefront> storefront() const = 0;
};

}  // namespace quorin::platform
