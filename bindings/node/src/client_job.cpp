#include "client_job.hpp"

namespace quorin_node {

Napi::Promise ClientJob::start(Napi::Object owner, std::shared_ptr<ClientCore> core,
                               bool answersValue, Work work) {
  auto* job = new ClientJob(owner, std::move(core), answersValue, std::move(work));
  Napi::Promise promise = job->deferred_.Promise();
  job->Queue();
  return promise;
}

ClientJob::ClientJob(Napi::Object owner, std::shared_ptr<ClientCore> core, bool answersValue,
                     Work work)
    : Napi::AsyncWorker(owner.Env(), "quorin:client"),
      deferred_(Napi::Promise::Deferred::New(owner.Env())),
      owner_(Napi::Persistent(owner)),
      core_(std::move(core)),
      answersValue_(answersValue),
      work_(std::move(work)) {}

void ClientJob::Execute() {
  std::lock_guard lock(core_->mutex);
  if (!core_->handle) return SetError("the client was freed");
  answer_ = work_(core_->handle);
}

void ClientJob::OnOK() {
  Napi::Env env = Env();
  if (!answersValue_) return deferred_.Resolve(env.Undefined());
  deferred_.Resolve(answer_ ? Napi::String::New(env, *answer_) : env.Null());
}

void ClientJob::OnError(const Napi::Error& error) { deferred_.Reject(error.Value()); }

}  // namespace quorin_node
