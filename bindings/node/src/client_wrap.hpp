#pragma once

// The JavaScript object of one client: facts answered at once, keychain, cloud writes and
// migration as jobs on the thread pool, a cloud read asked for on the JavaScript thread.
// Collected without dispose, it frees its client. JavaScript thread only.

#include <memory>

#include <napi.h>

#include "client_core.hpp"

namespace quorin_node {

class ClientWrap : public Napi::ObjectWrap<ClientWrap> {
 public:
  static Napi::Function define(Napi::Env env);
  explicit ClientWrap(const Napi::CallbackInfo& info);
  ~ClientWrap() override;

 private:
  template <char* (*fact)(const qrn_client*)>
  Napi::Value stringFact(const Napi::CallbackInfo& info);
  Napi::Value isTablet(const Napi::CallbackInfo& info);
  Napi::Value isApplicationInstalled(const Napi::CallbackInfo& info);

  Napi::Value keychainGet(const Napi::CallbackInfo& info);
  Napi::Value keychainSet(const Napi::CallbackInfo& info);
  Napi::Value keychainRemove(const Napi::CallbackInfo& info);
  Napi::Value clearKeychains(const Napi::CallbackInfo& info);
  Napi::Value cloudSet(const Napi::CallbackInfo& info);
  Napi::Value cloudRemove(const Napi::CallbackInfo& info);
  Napi::Value collectMigrationData(const Napi::CallbackInfo& info);
  Napi::Value clearDataAfterMigration(const Napi::CallbackInfo& info);

  // The value when it is there already, else undefined: the answer comes as a "value" event.
  Napi::Value fetch(const Napi::CallbackInfo& info);
  Napi::Value listen(const Napi::CallbackInfo& info);
  Napi::Value dispose(const Napi::CallbackInfo& info);

  std::shared_ptr<ClientCore> core_ = std::make_shared<ClientCore>();
};

}  // namespace quorin_node
