#include <array>

#include "client/quorin_client.hpp"

namespace quorin {
namespace {

struct LifecycleObservation {
  std::string_view notification;
  void (QuorinClient::*handler)() const;
};

// Registered and removed in this order.
constexpr std::array<LifecycleObservation, 4> kObservations{{
    {platform::kWillEnterForegroundNotification, &QuorinClient::onEnterForeground},
    {platform::kDidEnterBackgroundNotification, &QuorinClient::onEnterBackground},
    {platform::kDidBecomeActiveNotification, &QuorinClient::applicationDidBecomeActive},
    {platform::kWillResignActiveNotification, &QuorinClient::applicationWillResignActive},
}};

}  // namespace

void QuorinClient::observeLifecycle() {
  auto& center = platform_->notificationCenter();
  const void* application = &platform_->application();
  for (const auto& observation : kObservations) {
    center.addObserver(
        this, std::string(observation.notification), application,
        [weak = weak_from_this(), handler = observation.handler](const platform::Notification&) {
          if (auto self = weak.lock()) ((*self).*handler)();
        });
  }
}

void QuorinClient::stopObservingLifecycle() {
  auto& center = platform_->notificationCenter();
  const void* application = &platform_->application();
  for (const auto& observation : kObservations) {
    center.removeObserver(this, observation.notification, application);
  }
}

// The copy keeps the callback alive while it runs, even if it replaces itself.
void QuorinClient::relay(const QRNLifecycleCallback& slot) {
  if (QRNLifecycleCallback callback = slot) callback();
}

void QuorinClient::onEnterForeground() const {
  relay(onApplicationEnterForeground_);
}
void QuorinClient::onEnterBackground() const {
  relay(onApplicationEnterBackground_);
}
void QuorinClient::applicationDidBecomeActive() const {
  relay(onApplicationDidBecomeActive_);
}
void QuorinClient::applicationWillResignActive() const {
  relay(onApplicationWillResignActive_);
}

void QuorinClient::paymentQueue(platform::PaymentQueue&,
                                const std::vector<platform::PaymentTransaction>&) {}

void QuorinClient::paymentQueueDidChangeStorefront(platform::PaymentQueue&) {
  refreshStorefront();
}

void QuorinClient::refreshStorefront() {
  storefrontQueue_->asyncBarrier([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->storefront_ = self->paymentQueue_.storefront();
  });
}

std::optional<std::string> QuorinClient::storeCountry() const {
  std::optional<platform::Storefront> storefront;
  storefrontQueue_->sync([&] { storefront = storefront_; });
  if (!storefront) return std::nullopt;
  return storefront->countryCode;
}

}  // namespace quorin
