#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cloud/cloud_key_value_store.hpp"
#include "keychain/keychain.hpp"
#include "migration/legacy_data_migrator.hpp"
#include "platform/platform.hpp"
#include "quorin/quorin_client.hpp"

namespace quorin {

// The client behind the facade: answers device facts, relays lifecycle notifications and
// storefront changes, and keeps strings in the keychain and the cloud store. Made with
// std::make_shared, since its observers hold it weakly. Every operation runs on the calling
// thread; only the storefront copy is guarded.
class QuorinClient final : public platform::PaymentTransactionObserver,
                           public std::enable_shared_from_this<QuorinClient> {
 public:
  static constexpr std::string_view quorinDomain = "com.vendexa.iossdk";
  static constexpr std::string_view morventDomain = "com.corvasta.morvent";
  static constexpr std::string_view storefrontQueueLabel = "com.vendexa.iossdk.storefront";

  // Registers nothing and opens nothing; setup() does.
  explicit QuorinClient(std::shared_ptr<platform::Platform> platform);
  // A client dropped without dispose() still leaves no registration behind.
  ~QuorinClient() override;

  void setup();
  void dispose();

  void setOnCloudStoreValueFetched(QRNCloudValueCallback callback);
  void setOnApplicationEnterForeground(QRNLifecycleCallback callback);
  void setOnApplicationEnterBackground(QRNLifecycleCallback callback);
  void setOnApplicationDidBecomeActive(QRNLifecycleCallback callback);
  void setOnApplicationWillResignActive(QRNLifecycleCallback callback);
  void setOnCloudStoreChange(QRNCloudChangeCallback callback);
  const QRNCloudValueCallback& onCloudStoreValueFetched() const {
    return onCloudStoreValueFetched_;
  }
  const QRNLifecycleCallback& onApplicationEnterForeground() const {
    return onApplicationEnterForeground_;
  }
  const QRNLifecycleCallback& onApplicationEnterBackground() const {
    return onApplicationEnterBackground_;
  }
  const QRNLifecycleCallback& onApplicationDidBecomeActive() const {
    return onApplicationDidBecomeActive_;
  }
  const QRNLifecycleCallback& onApplicationWillResignActive() const {
    return onApplicationWillResignActive_;
  }
  const QRNCloudChangeCallback& onCloudStoreChange() const { return onCloudStoreChange_; }

  std::string deviceModel() const;
  std::string osVersion() const;
  std::string buildNumber() const;
  bool isTablet() const;
  std::string languageWithRegion() const;
  std::optional<std::string> idfa() const;
  std::optional<std::string> idfv() const;
  std::optional<std::string> encodedDeviceIdentifier() const;
  std::optional<std::string> storeCountry() const;
  bool isApplicationInstalled(const std::string& scheme) const;

  // Keychain operations work in every state; failures read as nil or have no effect.
  std::optional<std::string> getStringValueInKeychain(const std::string& key);
  void setStringValueInKeychain(const std::string& value, const std::string& key);
  void removeValueInKeychain(const std::string& key);
  // Erases this SDK's items and the legacy SDK's.
  void clearKeychains();
  // Cloud operations work only between setup() and dispose(); otherwise nothing happens.
  void fetchValueFromCloudStore(const std::string& key);
  void setValueToCloudStore(const std::string& value, const std::string& key);
  void removeValueFromCloudStore(const std::string& key);
  // Gathers the legacy SDK's data into JSON files; the path of their directory, or none when
  // the device has no Library directory or the defaults suite cannot be opened.
  std::optional<std::string> collectMigrationData();
  // Erases the legacy data and the migration's files, once a collection has run.
  void clearDataAfterMigration();
  // The domain whose keychain holds the shared identifier; this SDK's wins.
  std::string_view resolveMigrationDomain() const;

  // Notification handlers.
  void onEnterForeground() const;
  void onEnterBackground() const;
  void applicationDidBecomeActive() const;
  void applicationWillResignActive() const;

  void paymentQueue(platform::PaymentQueue& queue,
                    const std::vector<platform::PaymentTransaction>& updatedTransactions) override;
  void paymentQueueDidChangeStorefront(platform::PaymentQueue& queue) override;

 private:
  void refreshStorefront();
  void relayCloudChange(platform::UbiquitousChangeReason reason,
                        const std::vector<std::string>& keys) const;
  void observeLifecycle();
  void stopObservingLifecycle();
  static void relay(const QRNLifecycleCallback& slot);
  const keychain::Keychain& keychain();

  std::shared_ptr<platform::Platform> platform_;
  std::optional<platform::Storefront> storefront_;  // only inside storefrontQueue_ tasks
  platform::PaymentQueue& paymentQueue_;
  std::unique_ptr<platform::ConcurrentQueue> storefrontQueue_;
  std::shared_ptr<cloud::CloudKeyValueStore> cloudStore_;
  keychain::Keychain::Ptr keychain_;
  std::shared_ptr<migration::LegacyDataMigrator> dataMigrator_;
  QRNCloudValueCallback onCloudStoreValueFetched_;
  QRNLifecycleCallback onApplicationEnterForeground_;
  QRNLifecycleCallback onApplicationEnterBackground_;
  QRNLifecycleCallback onApplicationDidBecomeActive_;
  QRNLifecycleCallback onApplicationWillResignActive_;
  QRNCloudChangeCallback onCloudStoreChange_;
};

}  // namespace quorin
