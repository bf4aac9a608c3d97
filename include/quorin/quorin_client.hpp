#pragma once

// The C++ facade of QuorinNative. A host creates one QRNQuorinClient, which sets itself up
// at once, reads device facts and registers callbacks through it, and calls dispose() when
// it no longer wants events.
//
// Threads: every call runs synchronously on the calling thread, and a facade takes one call at
// a time; different facades may be called at once, except that the two migration calls run
// one at a time on each device. Lifecycle callbacks run on the thread that posts the
// lifecycle notification, which is the main thread (the thread that drives the process's main
// loop, with the qrn_main_loop_* functions of quorin/quorin.h), and so do cloud values that
// arrive later. Callback slots are plain fields that the main loop reads: set them, read them,
// call dispose() and destroy the facade on the main thread, or while no thread runs the main
// loop. A callback may
// replace itself, clear itself or call dispose() while it runs. Nothing here throws.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "quorin/device_options.hpp"
#include "quorin/export.h"
#include "quorin/version.h"

namespace quorin {
class QuorinClient;
namespace platform {
class Platform;
}
}  // namespace quorin

// Receives the key of a cloud read and its value, or nullopt when none was found.
using QRNCloudValueCallback =
    std::function<void(const std::string& key, const std::optional<std::string>& value)>;
using QRNLifecycleCallback = std::function<void()>;

// Why the cloud store's values changed, as the platform numbers its reasons.
enum class QRNCloudChangeReason {
  serverChange = 0,          // another device wrote
  initialSyncChange = 1,     // the device's first exchange found values
  quotaViolationChange = 2,  // the account refused this device's writes of the keys
  accountChange = 3,         // the device moved to another account
};
// Receives each external change of the cloud store: its reason and the keys it names.
using QRNCloudChangeCallback =
    std::function<void(QRNCloudChangeReason reason, const std::vector<std::string>& keys)>;
// Receives one of the library's diagnostic lines, without its newline.
using QRNDiagnosticHandler = std::function<void(std::string_view line)>;

class QRNQuorinClient;

// One argument or result of perform(); std::monostate stands for nil. A facade pointer is
// only ever a result: "init" answers the facade it set up again.
using QRNValue =
    std::variant<std::monostate, bool, std::string, QRNCloudValueCallback, QRNLifecycleCallback,
                 std::shared_ptr<quorin::QuorinClient>, QRNQuorinClient*>;

enum class QRNPerformStatus {
  ok,
  unknownSelector,  // no facade method has this selector
  wrongArguments,   // too many or too few arguments, or one of the wrong type
};

struct QRNPerformResult {
  QRNPerformStatus status = QRNPerformStatus::ok;
  QRNValue value;       // the method's result; nil for methods without one
  std::string message;  // why the call was refused; empty when status is ok
  bool ok() const { return status == QRNPerformStatus::ok; }
};

class QRN_EXPORT QRNQuorinClient {
 public:
  // Makes a client on the process's default platform and sets it up.
  QRNQuorinClient();
  // Makes a client on `platform` and sets it up; a null `platform` means the default one.
  explicit QRNQuorinClient(std::shared_ptr<quorin::platform::Platform> platform);
  // Releases the client without disposing it: pending events then reach nobody.
  ~QRNQuorinClient();

  // For hosts with a key store of their own: the 32-byte key that seals the keychain of
  // facades made afterwards on the default platform, instead of a key the library keeps in
  // the Secret Service or a key file. False, changing nothing, for a key of another length.
  static bool useKeychainKey(std::span<const std::uint8_t> key);
  // Makes the device that `options` names the default platform of facades made afterwards;
  // facades made earlier keep theirs. Its main queue is the process's main loop. Anything but
  // ok changes nothing and creates nothing. Safe from any thread.
  static QRNDeviceStatus useDevice(const QRNDeviceOptions& options);
  // Opens the device that `options` names without making it the default: facades made with
  // it as their platform run on it, several devices side by side. Anything but ok leaves
  // `device` empty and creates nothing. Safe from any thread.
  static QRNDeviceStatus openDevice(const QRNDeviceOptions& options,
                                    std::shared_ptr<quorin::platform::Platform>& device);
  // Sends the diagnostic lines of every device made for a host to `handler`, on the thread
  // that writes each, instead of standard output; an empty handler restores standard
  // output. Once this returns the previous handler is not called again, so a handler must
  // not call back into the library. Safe from any thread.
  static void useDiagnosticHandler(QRNDiagnosticHandler handler);

  QRNQuorinClient(const QRNQuorinClient&) = delete;
  QRNQuorinClient& operator=(const QRNQuorinClient&) = delete;

  // Stops the client's events: clears every callback and removes its observers.
  void dispose();

  void setOnCloudStoreValueFetched(QRNCloudValueCallback callback);
  void setOnApplicationEnterForeground(QRNLifecycleCallback callback);
  void setOnApplicationEnterBackground(QRNLifecycleCallback callback);
  void setOnApplicationDidBecomeActive(QRNLifecycleCallback callback);
  void setOnApplicationWillResignActive(QRNLifecycleCallback callback);
  // Runs on the main thread for each external change of the cloud store, quota refusals of
  // this client's writes included, after the reads it answers; cleared by dispose().
  void setOnCloudStoreChange(QRNCloudChangeCallback callback);
  // The client's current callbacks; empty functions for nil.
  QRNCloudValueCallback onCloudStoreValueFetched() const;
  QRNLifecycleCallback onApplicationEnterForeground() const;
  QRNLifecycleCallback onApplicationEnterBackground() const;
  QRNLifecycleCallback onApplicationDidBecomeActive() const;
  QRNLifecycleCallback onApplicationWillResignActive() const;
  QRNCloudChangeCallback onCloudStoreChange() const;

  std::string deviceModel() const;
  std::string osVersion() const;
  std::string buildNumber() const;
  bool isTablet() const;
  // Has no effect: whether the device is a tablet is a fact of the device.
  void setIsTablet(bool isTablet);
  std::string languageWithRegion() const;
  std::optional<std::string> idfa() const;
  std::optional<std::string> idfv() const;
  std::optional<std::string> encodedDeviceIdentifier() const;
  // Waits for any storefront refresh already queued, then answers from the copy it made.
  std::optional<std::string> storeCountry() const;
  bool isApplicationInstalledForScheme(const std::string& scheme) const;

  // Gathers the data the legacy SDK left on the device into JSON files ("context",
  // "generalInfo", "cachedAnalytics", "counters", "ltoInfo") and answers the path of their
  // directory; nil when the device has no Library directory or no defaults suite to read.
  std::optional<std::string> collectMigrationData();
  // After a collection on this client: erases the legacy files and defaults, and the
  // collected files with them. Keychain items stay; clearKeychains erases those.
  void clearDataAfterMigration();

  // Strings in the keychain, under this SDK's service. They work also after dispose().
  std::optional<std::string> getStringValueInKeychainForKey(const std::string& key);
  void setStringValueInKeychain(const std::string& value, const std::string& key);
  void removeValueInKeychainForKey(const std::string& key);
  // Erases this SDK's keychain items and those of the SDK before it.
  void clearKeychains();
  // Answers through onCloudStoreValueFetched: before returning when the value is there,
  // otherwise on the main thread when another device brings it, or with nil after 30 s.
  // The three cloud calls do nothing after dispose().
  void fetchValueFromCloudStoreForKey(const std::string& key);
  void setValueToCloudStore(const std::string& value, const std::string& key);
  void removeValueFromCloudStoreForKey(const std::string& key);

  std::shared_ptr<quorin::QuorinClient> swiftClient() const;
  void setSwiftClient(std::shared_ptr<quorin::QuorinClient> client);

  // Calls the method named by its selector, such as "deviceModel" or
  // "setOnApplicationEnterForeground:", with `arguments` in order. "init" replaces the client
  // with a new one, set up on the facade's platform, as constructing the facade does; the old
  // client is released without being disposed.
  QRNPerformResult perform(std::string_view selector, std::span<const QRNValue> arguments = {});
  QRNPerformResult perform(std::string_view selector, std::initializer_list<QRNValue> arguments) {
    return perform(selector, std::span<const QRNValue>(arguments.begin(), arguments.size()));
  }
  // Every selector perform() answers, in the order of the facade's method table.
  static std::span<const std::string_view> selectors();

 private:
  // Sets up a new client on platform_ and makes it the facade's.
  void init();

  std::shared_ptr<quorin::platform::Platform> platform_;
  std::shared_ptr<quorin::QuorinClient> client_;
};
