#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <vector>

#include "capi/c_handles.hpp"
#include "formats/utf8.hpp"

namespace {

// A C function and its context, stored in a facade slot as the callback itself so that the
// slot's getter can hand both back.
struct CCloudCallback {
  using Slot = QRNCloudValueCallback;
  qrn_cloud_value_callback function;
  void* context;

  void operator()(const std::string& key, const std::optional<std::string>& value) const {
    function(context, key.c_str(), value ? value->c_str() : nullptr);
  }
};

struct CLifecycleCallback {
  using Slot = QRNLifecycleCallback;
  qrn_lifecycle_callback function;
  void* context;

  void operator()() const { function(context); }
};

bool isText(const char* text) {
  return text && quorin::formats::isValidUtf8(text);
}

// Whether the string reaches C whole: UTF-8, with no NUL that would end it early.
bool isCText(const std::string& text) {
  return text.find('\0') == std::string::npos && quorin::formats::isValidUtf8(text);
}

struct CCloudChangeCallback {
  using Slot = QRNCloudChangeCallback;
  qrn_cloud_change_callback function;
  void* context;

  void operator()(QRNCloudChangeReason reason, const std::vector<std::string>& keys) const {
    std::vector<const char*> texts;
    for (const auto& key : keys) {
      if (isCText(key)) texts.push_back(key.c_str());
    }
    if (!texts.empty())
      function(context, static_cast<qrn_cloud_change_reason>(reason), texts.data(), texts.size());
  }
};

char* toC(const std::string& text) {
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

char* toC(const std::optional<std::string>& text) {
  return text ? toC(*text) : nullptr;
}

// Runs `body` on the facade when the handle and every string argument are usable; answers
// NULL, false or nothing otherwise. Nothing may unwind into C, and running out of memory is
// the one thing that can throw here.
template <typename Client, typename Body, typename... Texts>
auto onFacade(Client* client, Body body, Texts... texts) noexcept {
  using Result = decltype(body(client->facade, std::string(texts)...));
  if (!client || !(isText(texts) && ...)) return Result();
  try {
    return body(client->facade, std::string(texts)...);
  } catch (...) {
    return Result();
  }
}

bool toC(bool value) {
  return value;
}

// Calls a facade method with the string arguments, handing its result over in C terms.
template <typename Client, typename Method, typename... Texts>
auto forward(Client* client, Method method, Texts... texts) noexcept {
  auto call = [method](auto& facade, const auto&... strings) {
    if constexpr (std::is_void_v<decltype((facade.*method)(strings...))>) {
      (facade.*method)(strings...);
    } else {
      return toC((facade.*method)(strings...));
    }
  };
  return onFacade(client, call, texts...);
}

template <typename Adapter, typename Setter>
void setSlot(qrn_client* client, Setter setter, decltype(Adapter::function) function,
             void* context) noexcept {
  onFacade(client, [&](QRNQuorinClient& facade) {
    (facade.*setter)(function ? typename Adapter::Slot(Adapter{function, context})
                              : typename Adapter::Slot());
  });
}

template <typename Adapter, typename Getter>
decltype(Adapter::function) getSlot(const qrn_client* client, Getter getter,
                                    void** context) noexcept {
  auto slot = onFacade(client, [&](const QRNQuorinClient& facade) { return (facade.*getter)(); });
  const auto* adapter = slot.template target<Adapter>();
  if (context) *context = adapter ? adapter->context : nullptr;
  return adapter ? adapter->function : nullptr;
}

}  // namespace

extern "C" {

void qrn_string_free(char* string) {
  std::free(string);
}

qrn_client* qrn_client_create(void) {
  try {
    return new qrn_client{};
  } catch (...) {
    return nullptr;
  }
}

void qrn_client_free(qrn_client* client) {
  delete client;
}

void qrn_client_dispose(qrn_client* client) {
  forward(client, &QRNQuorinClient::dispose);
}

void qrn_client_set_on_cloud_store_value_fetched(qrn_client* client,
                                                 qrn_cloud_value_callback callback, void* context) {
  setSlot<CCloudCallback>(client, &QRNQuorinClient::setOnCloudStoreValueFetched, callback, context);
}

void qrn_client_set_on_application_enter_foreground(qrn_client* client,
                                                    qrn_lifecycle_callback callback,
                                                    void* context) {
  setSlot<CLifecycleCallback>(client, &QRNQuorinClient::setOnApplicationEnterForeground, callback,
                              context);
}

void qrn_client_set_on_application_enter_background(qrn_client* client,
                                                    qrn_lifecycle_callback callback,
                                                    void* context) {
  setSlot<CLifecycleCallback>(client, &QRNQuorinClient::setOnApplicationEnterBackground, callback,
                              context);
}

void qrn_client_set_on_application_did_become_active(qrn_client* client,
                                                     qrn_lifecycle_callback callback,
                                                     void* context) {
  setSlot<CLifecycleCallback>(client, &QRNQuorinClient::setOnApplicationDidBecomeActive, callback,
                              context);
}

void qrn_client_set_on_application_will_resign_active(qrn_client* client,
                                                      qrn_lifecycle_callback callback,
                                                      void* context) {
  setSlot<CLifecycleCallback>(client, &QRNQuorinClient::setOnApplicationWillResignActive, callback,
                              context);
}

void qrn_client_set_on_cloud_store_change(qrn_client* client, qrn_cloud_change_callback callback,
                                          void* context) {
  setSlot<CCloudChangeCallback>(client, &QRNQuorinClient::setOnCloudStoreChange, callback,
                                context);
}

qrn_cloud_change_callback qrn_client_on_cloud_store_change(const qrn_client* client,
                                                           void** context) {
  return getSlot<CCloudChangeCallback>(client, &QRNQuorinClient::onCloudStoreChange, context);
}

qrn_cloud_value_callback qrn_client_on_cloud_store_value_fetched(const qrn_client* client,
                                                                 void** context) {
  return getSlot<CCloudCallback>(client, &QRNQuorinClient::onCloudStoreValueFetched, context);
}

qrn_lifecycle_callback qrn_client_on_application_enter_foreground(const qrn_client* client,
                                                                  void** context) {
  return getSlot<CLifecycleCallback>(client, &QRNQuorinClient::onApplicationEnterForeground,
                                     context);
}

qrn_lifecycle_callback qrn_client_on_application_enter_background(const qrn_client* client,
                                                                  void** context) {
  return getSlot<CLifecycleCallback>(client, &QRNQuorinClient::onApplicationEnterBackground,
                                     context);
}

qrn_lifecycle_callback qrn_client_on_application_did_become_active(const qrn_client* client,
                                                                   void** context) {
  return getSlot<CLifecycleCallback>(client, &QRNQuorinClient::onApplicationDidBecomeActive,
                                     context);
}

qrn_lifecycle_callback qrn_client_on_application_will_resign_active(const qrn_client* client,
                                                                    void** context) {
  return getSlot<CLifecycleCallback>(client, &QRNQuorinClient::onApplicationWillResignActive,
                                     context);
}

char* qrn_client_device_model(const qrn_client* client) {
  return forward(client, &QRNQuorinClient::deviceModel);
}

char* qrn_client_os_version(const qrn_client* client) {
  return forward(client, &QRNQuorinClient::osVersion);
}

char* qrn_client_build_number(const qrn_client* client) {
  return forward(client, &QRNQuorinClient::buildNumber);
}

bool qrn_client_is_tablet(const qrn_client* client) {
  return forward(client, &QRNQuorinClient::isTablet);
}

void qrn_client_set_is_tablet(qrn_client* client, bool is_tablet) {
  onFacade(client, [&](QRNQuorinClient& facade) { facade.setIsTablet(is_tablet); });
}

char* qrn_client_language_with_region(const qrn_client* client) {
  return forward(client, &QRNQuorinClient::languageWithRegion);
}

char* qrn_client_idfa(const qrn_client* client) {
  return forward(client, &QRNQuorinClient::idfa);
}

char* qrn_client_idfv(const qrn_client* client) {
  return forward(client, &QRNQuorinClient::idfv);
}

char* qrn_client_encoded_device_identifier(const qrn_client* client) {
  return forward(client, &QRNQuorinClient::encodedDeviceIdentifier);
}

char* qrn_client_store_country(const qrn_client* client) {
  return forward(client, &QRNQuorinClient::storeCountry);
}

bool qrn_client_is_application_installed_for_scheme(const qrn_client* client, const char* scheme) {
  return forward(client, &QRNQuorinClient::isApplicationInstalledForScheme, scheme);
}

char* qrn_client_collect_migration_data(qrn_client* client) {
  return forward(client, &QRNQuorinClient::collectMigrationData);
}

void qrn_client_clear_data_after_migration(qrn_client* client) {
  forward(client, &QRNQuorinClient::clearDataAfterMigration);
}

char* qrn_client_get_string_value_in_keychain_for_key(qrn_client* client, const char* key) {
  return forward(client, &QRNQuorinClient::getStringValueInKeychainForKey, key);
}

void qrn_client_set_string_value_in_keychain(qrn_client* client, const char* value,
                                             const char* key) {
  forward(client, &QRNQuorinClient::setStringValueInKeychain, value, key);
}

void qrn_client_remove_value_in_keychain_for_key(qrn_client* client, const char* key) {
  forward(client, &QRNQuorinClient::removeValueInKeychainForKey, key);
}

void qrn_client_clear_keychains(qrn_client* client) {
  forward(client, &QRNQuorinClient::clearKeychains);
}

void qrn_client_fetch_value_from_cloud_store_for_key(qrn_client* client, const char* key) {
  forward(client, &QRNQuorinClient::fetchValueFromCloudStoreForKey, key);
}

void qrn_client_set_value_to_cloud_store(qrn_client* client, const char* value, const char* key) {
  forward(client, &QRNQuorinClient::setValueToCloudStore, value, key);
}

void qrn_client_remove_value_from_cloud_store_for_key(qrn_client* client, const char* key) {
  forward(client, &QRNQuorinClient::removeValueFromCloudStoreForKey, key);
}

qrn_swift_client* qrn_client_swift_client(const qrn_client* client) {
  return onFacade(client, [](const QRNQuorinClient& facade) -> qrn_swift_client* {
    auto shared = facade.swiftClient();
    return shared ? new qrn_swift_client{std::move(shared)} : nullptr;
  });
}

void qrn_client_set_swift_client(qrn_client* client, const qrn_swift_client* swift_client) {
  onFacade(client, [&](QRNQuorinClient& facade) {
    facade.setSwiftClient(swift_client ? swift_client->client : nullptr);
  });
}

void qrn_swift_client_free(qrn_swift_client* swift_client) {
  delete swift_client;
}

}  // extern "C"
