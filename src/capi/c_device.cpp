#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "capi/c_handles.hpp"
#include "formats/utf8.hpp"
#include "platform/application.hpp"
#include "platform/linux/host_devices.hpp"

namespace {

using quorin::platform::linux::processMainLoop;

bool isText(const char* text) {
  return text && quorin::formats::isValidUtf8(text);
}

std::optional<std::string_view> eventName(qrn_application_event event) {
  namespace platform = quorin::platform;
  switch (event) {
    case QRN_APPLICATION_WILL_ENTER_FOREGROUND:
      return platform::kWillEnterForegroundNotification;
    case QRN_APPLICATION_DID_ENTER_BACKGROUND:
      return platform::kDidEnterBackgroundNotification;
    case QRN_APPLICATION_DID_BECOME_ACTIVE:
      return platform::kDidBecomeActiveNotification;
    case QRN_APPLICATION_WILL_RESIGN_ACTIVE:
      return platform::kWillResignActiveNotification;
  }
  return std::nullopt;
}

// Negative means no deadline; so does anything past a century, which would overflow the clock.
quorin::platform::Clock::TimePoint deadlineAfter(const quorin::platform::Clock& clock,
                                                 double seconds) {
  constexpr double kCentury = 100.0 * 365 * 24 * 3600;
  if (std::isnan(seconds)) seconds = 0;
  if (seconds < 0 || seconds > kCentury) return quorin::platform::Clock::TimePoint::max();
  return clock.now() + std::chrono::duration_cast<quorin::platform::Clock::Duration>(
                           std::chrono::duration<double>(seconds));
}

#define QRN_FIELD_END(field) (offsetof(qrn_device_options, field) + sizeof(qrn_device_options::field))

// A host's struct may be a prefix of this one, from an older header, but never a part field.
constexpr std::array kFieldEnds{QRN_FIELD_END(container),   QRN_FIELD_END(cloud_account),
                                QRN_FIELD_END(info_plist),  QRN_FIELD_END(key_store),
                                QRN_FIELD_END(keychain_key), QRN_FIELD_END(keychain_key_length)};

#undef QRN_FIELD_END

// The host's options as this library knows them: what its size covers, the rest left unset.
// A larger struct from a newer header is read only when its extra fields are unset, since
// this library cannot honour them.
std::optional<qrn_device_options> readOptions(const qrn_device_options* given) {
  if (!given) return std::nullopt;
  std::size_t size = given->size;
  qrn_device_options options{};
  if (size > sizeof options) {
    const auto* extra = reinterpret_cast<const unsigned char*>(given) + sizeof options;
    if (std::any_of(extra, extra + (size - sizeof options), [](auto byte) { return byte; }))
      return std::nullopt;
    size = sizeof options;
  } else if (std::find(kFieldEnds.begin(), kFieldEnds.end(), size) == kFieldEnds.end()) {
    return std::nullopt;
  }
  std::memcpy(&options, given, size);
  return options;
}

bool isAbsentOrText(const char* text) {
  return !text || isText(text);
}

std::optional<std::string> optionalText(const char* text) {
  return text ? std::optional<std::string>(text) : std::nullopt;
}

// The options in C++ terms; none when a string is not text or the key is not a key.
std::optional<QRNDeviceOptions> toDeviceOptions(const qrn_device_options& options) {
  if (!isAbsentOrText(options.cloud_account) || !isAbsentOrText(options.info_plist) ||
      !isAbsentOrText(options.key_store))
    return std::nullopt;
  QRNDeviceOptions device{.container = options.container,
                          .cloudAccount = optionalText(options.cloud_account),
                          .infoPlist = optionalText(options.info_plist),
                          .keyStore = optionalText(options.key_store)};
  if (options.keychain_key || options.keychain_key_length) {
    std::array<std::uint8_t, 32> key;
    if (!options.keychain_key || options.keychain_key_length != key.size()) return std::nullopt;
    std::copy_n(options.keychain_key, key.size(), key.begin());
    device.keychainKey = key;
  }
  return device;
}

qrn_device_status toC(QRNDeviceStatus status) {
  switch (status) {
    case QRNDeviceStatus::ok:
      return QRN_DEVICE_OK;
    case QRNDeviceStatus::invalidOptions:
      return QRN_DEVICE_INVALID_OPTIONS;
    case QRNDeviceStatus::relativeContainer:
      return QRN_DEVICE_RELATIVE_CONTAINER;
    case QRNDeviceStatus::failed:
      return QRN_DEVICE_FAILED;
    case QRNDeviceStatus::unusableContainer:
      return QRN_DEVICE_UNUSABLE_CONTAINER;
    case QRNDeviceStatus::unusableCloudAccount:
      return QRN_DEVICE_UNUSABLE_CLOUD_ACCOUNT;
  }
  return QRN_DEVICE_FAILED;
}

// Checks the host's options and hands them on to `use` in C++ terms.
template <typename Use>
qrn_device_status withDeviceOptions(const qrn_device_options* given, Use use) {
  auto options = readOptions(given);
  if (!options || !options->container) return QRN_DEVICE_INVALID_OPTIONS;
  if (!isText(options->container)) return QRN_DEVICE_INVALID_OPTIONS;
  try {
    auto device = toDeviceOptions(*options);
    return device ? toC(use(*device)) : QRN_DEVICE_INVALID_OPTIONS;
  } catch (...) {
    return QRN_DEVICE_FAILED;
  }
}

struct CDiagnosticHandler {
  qrn_diagnostic_callback function;
  void* context;

  // The line as C sees it: NUL-terminated, so copied when the view is not.
  void operator()(std::string_view line) const {
    std::string text(line);
    function(context, text.c_str());
  }
};

}  // namespace

extern "C" {

qrn_device_status qrn_use_device(const qrn_device_options* given) {
  return withDeviceOptions(given, &QRNQuorinClient::useDevice);
}

qrn_device_status qrn_device_open(const qrn_device_options* given, qrn_device** device) {
  if (!device) return QRN_DEVICE_INVALID_OPTIONS;
  *device = nullptr;
  std::shared_ptr<quorin::platform::Platform> opened;
  auto status = withDeviceOptions(given, [&](const QRNDeviceOptions& options) {
    return QRNQuorinClient::openDevice(options, opened);
  });
  if (status != QRN_DEVICE_OK) return status;
  try {
    *device = new qrn_device{std::move(opened)};
    return QRN_DEVICE_OK;
  } catch (...) {
    return QRN_DEVICE_FAILED;
  }
}

qrn_client* qrn_device_create_client(qrn_device* device) {
  if (!device) return nullptr;
  try {
    return new qrn_client{QRNQuorinClient(device->platform)};
  } catch (...) {
    return nullptr;
  }
}

void qrn_device_free(qrn_device* device) {
  delete device;
}

void qrn_set_diagnostic_handler(qrn_diagnostic_callback callback, void* context) {
  try {
    QRNQuorinClient::useDiagnosticHandler(callback ? QRNDiagnosticHandler(CDiagnosticHandler{
                                                         callback, context})
                                                   : QRNDiagnosticHandler());
  } catch (...) {
    // Only copying the handler can fail, and then the previous one stays.
  }
}

bool qrn_use_container(const char* container, const char* cloud_account) {
  qrn_device_options options = QRN_DEVICE_OPTIONS_INIT;
  options.container = container;
  options.cloud_account = cloud_account;
  return qrn_use_device(&options) == QRN_DEVICE_OK;
}

bool qrn_use_keychain_key(const unsigned char* key, size_t length) {
  return key && quorin::platform::setDefaultKeychainKey({key, length});
}

bool qrn_post_application_event(qrn_application_event event) {
  auto name = eventName(event);
  if (!name) return false;
  try {
    std::vector<std::weak_ptr<quorin::platform::linux::LinuxPlatform>> devices;
    for (auto& device : quorin::platform::linux::hostDevices()) devices.push_back(device);
    // Weakly: the task waits in the main loop, which must not keep the devices alive.
    processMainLoop()->async([devices = std::move(devices), name = std::string(*name)] {
      for (const auto& weak : devices) {
        if (auto device = weak.lock())
          device->notificationCenter().post({name, &device->application(), std::nullopt});
      }
    });
    return true;
  } catch (...) {
    return false;
  }
}

bool qrn_main_loop_run(double seconds) {
  try {
    auto loop = processMainLoop();
    return !loop->runUntil(deadlineAfter(loop->clock(), seconds));
  } catch (...) {
    return false;
  }
}

size_t qrn_main_loop_drain(void) {
  try {
    return processMainLoop()->drainPending();
  } catch (...) {
    return 0;
  }
}

void qrn_main_loop_stop(void) {
  try {
    processMainLoop()->stop();
  } catch (...) {
    // Only making the loop can fail, and a loop not yet made runs nothing to stop.
  }
}

int qrn_main_loop_fd(void) {
  try {
    return processMainLoop()->readyDescriptor();
  } catch (...) {
    return -1;
  }
}

// Rounded up, so that a host woken by the time-out finds the timer due rather than polling
// again and again in its last millisecond.
int qrn_main_loop_timeout_ms(void) {
  try {
    auto wait = processMainLoop()->timeUntilReady();
    if (!wait) return -1;
    auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(*wait).count();
    return static_cast<int>(std::min<decltype(milliseconds)>(milliseconds, INT_MAX));
  } catch (...) {
    return -1;
  }
}

}  // extern "C"
