#include "client_wrap.hpp"

#include "addon_state.hpp"
#include "client_job.hpp"
#include "device_wrap.hpp"
#include "values.hpp"

namespace quorin_node {

namespace {

using Work = ClientJob::Work;

Work nothingAnswered(std::function<void(qrn_client*)> call) {
  return [call = std::move(call)](qrn_client* client) -> std::optional<std::string> {
    call(client);
    return std::nullopt;
  };
}

Work stringAnswered(std::function<char*(qrn_client*)> call) {
  return [call = std::move(call)](qrn_client* client) -> std::optional<std::string> {
    std::unique_ptr<char, decltype(&qrn_string_free)> text(call(client), qrn_string_free);
    if (!text) return std::nullopt;
    return std::string(text.get());
  };
}

}  // namespace

Napi::Function ClientWrap::define(Napi::Env env) {
  return DefineClass(
      env, "NativeClient",
      {
          InstanceMethod<&ClientWrap::stringFact<qrn_client_device_model>>("deviceModel"),
          InstanceMethod<&ClientWrap::stringFact<qrn_client_os_version>>("osVersion"),
          InstanceMethod<&ClientWrap::stringFact<qrn_client_build_number>>("buildNumber"),
          InstanceMethod<&ClientWrap::stringFact<qrn_client_language_with_region>>(
              "languageWithRegion"),
          InstanceMethod<&ClientWrap::stringFact<qrn_client_idfa>>("idfa"),
          InstanceMethod<&ClientWrap::stringFact<qrn_client_idfv>>("idfv"),
          InstanceMethod<&ClientWrap::stringFact<qrn_client_encoded_device_identifier>>(
              "encodedDeviceIdentifier"),
          InstanceMethod<&ClientWrap::stringFact<qrn_client_store_country>>("storeCountry"),
          InstanceMethod<&ClientWrap::isTablet>("isTablet"),
          InstanceMethod<&ClientWrap::isApplicationInstalled>("isApplicationInstalled"),
          InstanceMethod<&ClientWrap::keychainGet>("keychainGet"),
          InstanceMethod<&ClientWrap::keychainSet>("keychainSet"),
          InstanceMethod<&ClientWrap::keychainRemove>("keychainRemove"),
          InstanceMethod<&ClientWrap::clearKeychains>("clearKeychains"),
          InstanceMethod<&ClientWrap::cloudSet>("cloudSet"),
          InstanceMethod<&ClientWrap::cloudRemove>("cloudRemove"),
          InstanceMethod<&ClientWrap::collectMigrationData>("collectMigrationData"),
          InstanceMethod<&ClientWrap::clearDataAfterMigration>("clearDataAfterMigration"),
          InstanceMethod<&ClientWrap::fetch>("fetch"),
          InstanceMethod<&ClientWrap::listen>("listen"),
          InstanceMethod<&ClientWrap::dispose>("dispose"),
      });
}

// Made as `new NativeClient(device)`.
ClientWrap::ClientWrap(const Napi::CallbackInfo& info) : Napi::ObjectWrap<ClientWrap>(info) {
  Napi::Env env = info.Env();
  AddonState& state = AddonState::require(env);
  if (info.Length() < 1 || !info[0].IsObject()) throw Napi::TypeError::New(env, "expected a device");
  qrn_device* device = DeviceWrap::handleOf(info[0].As<Napi::Object>());
  core_->handle = qrn_device_create_client(device);
  if (!core_->handle) throw codedError(env, "FAILED", "the client could not be set up");
  core_->state = &state;
  core_->id = state.addClient(core_, info.This().As<Napi::Object>());
  listenForValues(*core_);
}

ClientWrap::~ClientWrap() {
  if (core_->state) core_->state->removeClient(core_->id);
  core_->free();
}

template <char* (*fact)(const qrn_client*)>
Napi::Value ClientWrap::stringFact(const Napi::CallbackInfo& info) {
  std::lock_guard lock(core_->mutex);
  return takeString(info.Env(), fact(core_->handle));
}

Napi::Value ClientWrap::isTablet(const Napi::CallbackInfo& info) {
  std::lock_guard lock(core_->mutex);
  return Napi::Boolean::New(info.Env(), qrn_client_is_tablet(core_->handle));
}

Napi::Value ClientWrap::isApplicationInstalled(const Napi::CallbackInfo& info) {
  std::string scheme = stringArgument(info, 0);
  std::lock_guard lock(core_->mutex);
  return Napi::Boolean::New(info.Env(),
                            qrn_client_is_application_installed_for_scheme(core_->handle,
                                                                           scheme.c_str()));
}

Napi::Value ClientWrap::keychainGet(const Napi::CallbackInfo& info) {
  std::string key = stringArgument(info, 0);
  return ClientJob::start(Value(), core_, true, stringAnswered([key](qrn_client* client) {
                            return qrn_client_get_string_value_in_keychain_for_key(client,
                                                                                   key.c_str());
                          }));
}

Napi::Value ClientWrap::keychainSet(const Napi::CallbackInfo& info) {
  std::string key = stringArgument(info, 0);
  std::string value = stringArgument(info, 1);
  return ClientJob::start(Value(), core_, false, nothingAnswered([key, value](qrn_client* client) {
                            qrn_client_set_string_value_in_keychain(client, value.c_str(),
                                                                    key.c_str());
                          }));
}

Napi::Value ClientWrap::keychainRemove(const Napi::CallbackInfo& info) {
  std::string key = stringArgument(info, 0);
  return ClientJob::start(Value(), core_, false, nothingAnswered([key](qrn_client* client) {
                            qrn_client_remove_value_in_keychain_for_key(client, key.c_str());
                          }));
}

Napi::Value ClientWrap::clearKeychains(const Napi::CallbackInfo&) {
  return ClientJob::start(Value(), core_, false, nothingAnswered(qrn_client_clear_keychains));
}

Napi::Value ClientWrap::cloudSet(const Napi::CallbackInfo& info) {
  std::string key = stringArgument(info, 0);
  std::string value = stringArgument(info, 1);
  return ClientJob::start(Value(), core_, false, nothingAnswered([key, value](qrn_client* client) {
                            qrn_client_set_value_to_cloud_store(client, value.c_str(), key.c_str());
                          }));
}

Napi::Value ClientWrap::cloudRemove(const Napi::CallbackInfo& info) {
  std::string key = stringArgument(info, 0);
  return ClientJob::start(Value(), core_, false, nothingAnswered([key](qrn_client* client) {
                            qrn_client_remove_value_from_cloud_store_for_key(client, key.c_str());
                          }));
}

Napi::Value ClientWrap::collectMigrationData(const Napi::CallbackInfo&) {
  return ClientJob::start(Value(), core_, true,
                          stringAnswered(qrn_client_collect_migration_data));
}

Napi::Value ClientWrap::clearDataAfterMigration(const Napi::CallbackInfo&) {
  return ClientJob::start(Value(), core_, false,
                          nothingAnswered(qrn_client_clear_data_after_migration));
}

Napi::Value ClientWrap::fetch(const Napi::CallbackInfo& info) {
  std::string key = stringArgument(info, 0);
  std::optional<std::optional<std::string>> captured;
  {
    std::lock_guard lock(core_->mutex);
    core_->captured = &captured;
    qrn_client_fetch_value_from_cloud_store_for_key(core_->handle, key.c_str());
    core_->captured = nullptr;
  }
  Napi::Env env = info.Env();
  if (!captured) return env.Undefined();
  return *captured ? Napi::String::New(env, **captured) : env.Null();
}

Napi::Value ClientWrap::listen(const Napi::CallbackInfo& info) {
  std::string event = stringArgument(info, 0);
  bool on = info.Length() > 1 && info[1].ToBoolean();
  std::lock_guard lock(core_->mutex);
  if (core_->handle) listenFor(*core_, event, on);
  return info.Env().Undefined();
}

Napi::Value ClientWrap::dispose(const Napi::CallbackInfo& info) {
  std::lock_guard lock(core_->mutex);
  qrn_client_dispose(core_->handle);
  return info.Env().Undefined();
}

}  // namespace quorin_node
