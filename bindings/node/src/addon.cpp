// The addon's entry: the classes and functions lib/native.js builds the package on. Every
// function but libraryVersion() needs the environment to have claimed the main loop first.

#include <napi.h>

#include <quorin/quorin.h>

#include "addon_state.hpp"
#include "client_wrap.hpp"
#include "device_wrap.hpp"
#include "values.hpp"

namespace quorin_node {

namespace {

// claim(NativeDevice, dispatch, diagnostic): dispatch(kind, ...) is called with a client as
// `this` for each of its events; diagnostic(line) for each diagnostic line.
Napi::Value claim(const Napi::CallbackInfo& info) {
  if (info.Length() < 3 || !info[0].IsFunction() || !info[1].IsFunction() ||
      !info[2].IsFunction()) {
    throw Napi::TypeError::New(info.Env(), "claim(deviceClass, dispatch, diagnostic)");
  }
  AddonState::claim(info.Env(), info[0].As<Napi::Function>(), info[1].As<Napi::Function>(),
                    info[2].As<Napi::Function>());
  return info.Env().Undefined();
}

Napi::Value libraryVersion(const Napi::CallbackInfo& info) {
  return Napi::String::New(info.Env(), reinterpret_cast<const char*>(QuorinNativeVersionString));
}

Napi::Value postApplicationEvent(const Napi::CallbackInfo& info) {
  AddonState& state = AddonState::require(info.Env());
  if (info.Length() < 1 || !info[0].IsNumber()) {
    throw Napi::TypeError::New(info.Env(), "expected a number");
  }
  auto event = static_cast<qrn_application_event>(info[0].As<Napi::Number>().Int32Value());
  bool posted = qrn_post_application_event(event);
  if (posted) state.watch().holdUntilDrain();
  return Napi::Boolean::New(info.Env(), posted);
}

// Something the host awaits is pending (hold) or no longer (release): the watch keeps the
// process alive while any is.
Napi::Value hold(const Napi::CallbackInfo& info) {
  AddonState::require(info.Env()).watch().hold();
  return info.Env().Undefined();
}

Napi::Value release(const Napi::CallbackInfo& info) {
  AddonState::require(info.Env()).watch().release();
  return info.Env().Undefined();
}

Napi::Value held(const Napi::CallbackInfo& info) {
  return Napi::Number::New(info.Env(), AddonState::require(info.Env()).watch().held());
}

// At the process's 'exit': nothing is delivered after it, not while Node closes its handles.
Napi::Value stop(const Napi::CallbackInfo& info) {
  if (AddonState* state = AddonState::of(info.Env())) state->watch().close();
  return info.Env().Undefined();
}

Napi::Object init(Napi::Env env, Napi::Object exports) {
  exports.Set("NativeDevice", DeviceWrap::define(env));
  exports.Set("NativeClient", ClientWrap::define(env));
  exports.Set("claim", Napi::Function::New<claim>(env, "claim"));
  exports.Set("libraryVersion", Napi::Function::New<libraryVersion>(env, "libraryVersion"));
  exports.Set("openDevice", Napi::Function::New<DeviceWrap::open>(env, "openDevice"));
  exports.Set("postApplicationEvent",
              Napi::Function::New<postApplicationEvent>(env, "postApplicationEvent"));
  exports.Set("hold", Napi::Function::New<hold>(env, "hold"));
  exports.Set("release", Napi::Function::New<release>(env, "release"));
  exports.Set("held", Napi::Function::New<held>(env, "held"));
  exports.Set("stop", Napi::Function::New<stop>(env, "stop"));
  return exports;
}

}  // namespace

}  // namespace quorin_node

static Napi::Object initModule(Napi::Env env, Napi::Object exports) {
  return quorin_node::init(env, exports);
}

NODE_API_MODULE(quorin_native, initModule)
