#include "diagnostics.hpp"

#include <memory>
#include <string>

#include <quorin/quorin.h>

namespace quorin_node {

namespace {

void drop(void*, const char*) {}

}  // namespace

Diagnostics::Diagnostics(Napi::Env env, Napi::Function receiver)
    : lines_(Napi::ThreadSafeFunction::New(env, receiver, "quorin:diagnostics", 0, 1)) {
  lines_.Unref(env);
  qrn_set_diagnostic_handler(forward, this);
}

Diagnostics::~Diagnostics() {
  qrn_set_diagnostic_handler(drop, nullptr);
  lines_.Release();
}

void Diagnostics::forward(void* context, const char* line) {
  auto* self = static_cast<Diagnostics*>(context);
  auto* copy = new std::string(line);
  napi_status status = self->lines_.NonBlockingCall(
      copy, [](Napi::Env env, Napi::Function receiver, std::string* text) {
        std::unique_ptr<std::string> owned(text);
        if (env && receiver) receiver.Call({Napi::String::New(env, *owned)});
      });
  if (status != napi_ok) delete copy;
}

}  // namespace quorin_node
