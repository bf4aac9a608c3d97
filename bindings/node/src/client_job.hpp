#pragma once

// One keychain, cloud or migration call run on libuv's thread pool under its client's lock,
// answered through a Promise. Its work answers a string, nothing (null), or no answer at all
// (undefined), by what the call returns.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <napi.h>

#include "client_core.hpp"

namespace quorin_node {

class ClientJob : public Napi::AsyncWorker {
 public:
  using Work = std::function<std::optional<std::string>(qrn_client*)>;

  // Queues the job, keeping `owner` (the client's wrapper) alive until it is answered.
  static Napi::Promise start(Napi::Object owner, std::shared_ptr<ClientCore> core,
                             bool answersValue, Work work);

 private:
  ClientJob(Napi::Object owner, std::shared_ptr<ClientCore> core, bool answersValue, Work work);
  void Execute() override;
  void OnOK() override;
  void OnError(const Napi::Error& error) override;

  Napi::Promise::Deferred deferred_;
  Napi::ObjectReference owner_;
  std::shared_ptr<ClientCore> core_;
  bool answersValue_;
  Work work_;
  std::optional<std::string> answer_;
};

}  // namespace quorin_node
