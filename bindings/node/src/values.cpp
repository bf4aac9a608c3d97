#include "values.hpp"

#include <memory>

#include <quorin/quorin.h>

namespace quorin_node {

Napi::Value takeString(Napi::Env env, char* text) {
  std::unique_ptr<char, decltype(&qrn_string_free)> owned(text, qrn_string_free);
  if (!owned) return env.Null();
  return Napi::String::New(env, owned.get());
}

std::string stringArgument(const Napi::CallbackInfo& info, size_t index) {
  if (info.Length() <= index || !info[index].IsString()) {
    throw Napi::TypeError::New(info.Env(), "expected a string");
  }
  std::string text = info[index].As<Napi::String>().Utf8Value();
  // The C interface reads a string up to its first NUL: the rest would be lost unseen.
  if (text.find('\0') != std::string::npos) {
    throw codedError(info.Env(), "INVALID_ARGUMENT", "a string holds a NUL character");
  }
  return text;
}

Napi::Error codedError(Napi::Env env, const char* code, const std::string& message) {
  Napi::Error error = Napi::Error::New(env, message);
  error.Set("code", Napi::String::New(env, code));
  return error;
}

}  // namespace quorin_node
