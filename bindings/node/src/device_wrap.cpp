#include "device_wrap.hpp"

#include <optional>
#include <string>

#include "addon_state.hpp"
#include "values.hpp"

namespace quorin_node {

namespace {

std::optional<std::string> optionalString(const Napi::Object& options, const char* name) {
  Napi::Value value = options.Get(name);
  if (value.IsUndefined() || value.IsNull()) return std::nullopt;
  if (!value.IsString()) {
    throw codedError(options.Env(), "INVALID_OPTIONS", std::string(name) + " must be a string");
  }
  std::string text = value.As<Napi::String>().Utf8Value();
  if (text.find('\0') != std::string::npos) {
    throw codedError(options.Env(), "INVALID_OPTIONS", std::string(name) + " holds a NUL");
  }
  return text;
}

const char* orNull(const std::optional<std::string>& text) {
  return text ? text->c_str() : nullptr;
}

}  // namespace

Napi::Function DeviceWrap::define(Napi::Env env) { return DefineClass(env, "NativeDevice", {}); }

// Called as open(options): options as the JavaScript side checked them, the keychain key a
// Buffer.
Napi::Value DeviceWrap::open(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  AddonState& state = AddonState::require(env);
  Napi::Object options = info[0].As<Napi::Object>();
  std::optional<std::string> container = optionalString(options, "container");
  std::optional<std::string> cloudAccount = optionalString(options, "cloudAccount");
  std::optional<std::string> infoPlist = optionalString(options, "infoPlist");
  std::optional<std::string> keyStore = optionalString(options, "keyStore");
  qrn_device_options native = QRN_DEVICE_OPTIONS_INIT;
  native.container = orNull(container);
  native.cloud_account = orNull(cloudAccount);
  native.info_plist = orNull(infoPlist);
  native.key_store = orNull(keyStore);
  Napi::Value key = options.Get("keychainKey");
  if (key.IsBuffer()) {
    auto bytes = key.As<Napi::Buffer<unsigned char>>();
    native.keychain_key = bytes.Data();
    native.keychain_key_length = bytes.Length();
  }
  qrn_device* device = nullptr;
  qrn_device_status status = qrn_device_open(&native, &device);
  if (status != QRN_DEVICE_OK) return Napi::Number::New(env, status);
  Napi::External<qrn_device> handle = Napi::External<qrn_device>::New(env, device);
  return state.deviceClass().New({handle});
}

qrn_device* DeviceWrap::handleOf(Napi::Object object) {
  if (!object.InstanceOf(AddonState::require(object.Env()).deviceClass())) {
    throw Napi::TypeError::New(object.Env(), "expected a device");
  }
  return Unwrap(object)->handle_;
}

DeviceWrap::DeviceWrap(const Napi::CallbackInfo& info) : Napi::ObjectWrap<DeviceWrap>(info) {
  if (info.Length() < 1 || !info[0].IsExternal()) {
    throw Napi::TypeError::New(info.Env(), "devices are made by openDevice()");
  }
  handle_ = info[0].As<Napi::External<qrn_device>>().Data();
  AddonState::require(info.Env()).addDevice(&handle_);
}

DeviceWrap::~DeviceWrap() {
  if (AddonState* state = AddonState::of(Env())) state->removeDevice(&handle_);
  qrn_device_free(handle_);
}

}  // namespace quorin_node
