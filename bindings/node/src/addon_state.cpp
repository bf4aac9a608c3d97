#include "addon_state.hpp"

#include <atomic>

#include <quorin/quorin.h>

#include "diagnostics.hpp"
#include "values.hpp"

namespace quorin_node {

namespace {

// The process has one main loop and so one environment that may drive it.
std::atomic<bool> claimed{false};

struct Module {
  std::unique_ptr<AddonState> state;
};

Module* moduleOf(Napi::Env env) {
  Module* module = env.GetInstanceData<Module>();
  if (!module) {
    module = new Module;
    env.SetInstanceData(module);
  }
  return module;
}

uv_loop_t* loopOf(Napi::Env env) {
  uv_loop_t* loop = nullptr;
  napi_get_uv_event_loop(env, &loop);
  return loop;
}

}  // namespace

AddonState* AddonState::of(Napi::Env env) { return moduleOf(env)->state.get(); }

AddonState& AddonState::require(Napi::Env env) {
  if (AddonState* state = of(env)) return *state;
  throw codedError(env, "WRONG_THREAD",
                   "QuorinNative runs on the main thread only: the process's main loop is "
                   "driven from there");
}

void AddonState::claim(Napi::Env env, Napi::Function deviceClass, Napi::Function dispatch,
                       Napi::Function diagnostic) {
  Module* module = moduleOf(env);
  if (module->state) return;
  if (claimed.exchange(true)) require(env);  // another environment has it: refused
  module->state = std::make_unique<AddonState>(env, deviceClass, dispatch, diagnostic);
  napi_add_env_cleanup_hook(
      env, [](void* state) { static_cast<AddonState*>(state)->shutDown(); },
      module->state.get());
}

AddonState::AddonState(Napi::Env env, Napi::Function deviceClass, Napi::Function dispatch,
                       Napi::Function diagnostic)
    : env_(env),
      deviceClass_(Napi::Persistent(deviceClass)),
      dispatch_(Napi::Persistent(dispatch)),
      context_(std::make_unique<Napi::AsyncContext>(env, "quorin:mainloop")),
      diagnostics_(std::make_unique<Diagnostics>(env, diagnostic)) {
  watch_ = std::make_unique<LoopWatch>(loopOf(env), [this] { deliver(); });
  if (!watch_->started()) {
    throw codedError(env, "FAILED", "the main loop's descriptor could not be watched");
  }
}

AddonState::~AddonState() { shutDown(); }

std::uint64_t AddonState::addClient(std::shared_ptr<ClientCore> core, Napi::Object wrapper) {
  std::uint64_t id = nextClient_++;
  clients_.emplace(id, LiveClient{std::move(core), Napi::Weak(wrapper)});
  return id;
}

void AddonState::removeClient(std::uint64_t id) { clients_.erase(id); }

void AddonState::deliver() {
  if (events_.empty()) return;
  std::vector<PendingEvent> events = std::move(events_);
  events_.clear();
  try {
    Napi::HandleScope scope(env_);
    for (const PendingEvent& event : events) deliverOne(event);
  } catch (const Napi::Error&) {
    // JavaScript can no longer run: the environment is ending, and its events with it.
  }
}

void AddonState::deliverOne(const PendingEvent& event) {
  auto found = clients_.find(event.client);
  if (found == clients_.end()) return;
  Napi::Object receiver = found->second.wrapper.Value();
  if (receiver.IsEmpty()) return;
  Napi::Env env = env_;
  std::vector<napi_value> args{Napi::String::New(env, event.kind)};
  if (event.kind == "value") {
    args.push_back(Napi::String::New(env, event.key));
    args.push_back(event.hasValue ? Napi::String::New(env, event.value) : env.Null());
  } else if (event.kind == "change") {
    Napi::Array keys = Napi::Array::New(env, event.keys.size());
    for (size_t i = 0; i < event.keys.size(); ++i) keys.Set(i, event.keys[i]);
    args.push_back(keys);
    args.push_back(Napi::Number::New(env, event.reason));
  }
  try {
    dispatch_.MakeCallback(receiver, args, *context_);
  } catch (const Napi::Error& error) {
    // A listener threw: reported as Node reports an uncaught exception, and the remaining
    // events still go out. No value means JavaScript could not be called at all.
    if (error.Value().IsEmpty()) throw;
    napi_fatal_exception(env, error.Value());
  }
}

void AddonState::shutDown() {
  if (shutDown_) return;
  shutDown_ = true;
  watch_->close();
  events_.clear();
  for (auto& [id, client] : clients_) client.core->free();
  for (qrn_device** slot : devices_) {
    qrn_device_free(*slot);
    *slot = nullptr;
  }
  devices_.clear();
  diagnostics_.reset();
}

}  // namespace quorin_node
