#pragma once

// The JavaScript object of one opened device. Collected, or at the environment's end, it
// releases its handle; clients made on it keep the device. JavaScript thread only.

#include <napi.h>

#include <quorin/quorin.h>

namespace quorin_node {

class DeviceWrap : public Napi::ObjectWrap<DeviceWrap> {
 public:
  static Napi::Function define(Napi::Env env);
  // Answers the device's status as a number, or the device when it opened.
  static Napi::Value open(const Napi::CallbackInfo& info);
  static qrn_device* handleOf(Napi::Object object);

  explicit DeviceWrap(const Napi::CallbackInfo& info);
  ~DeviceWrap() override;

 private:
  qrn_device* handle_ = nullptr;
};

}  // namespace quorin_node
