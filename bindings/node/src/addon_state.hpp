#pragma once

// What the addon holds for the one Node environment that owns the process's main loop: the
// JavaScript side's dispatcher, the watch on the main loop, the clients and devices alive,
// and the events the main loop produced that wait to reach JavaScript. Called on the
// JavaScript thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <napi.h>

#include "client_core.hpp"
#include "loop_watch.hpp"

struct qrn_device;

namespace quorin_node {

class Diagnostics;

// One callback of the main loop, copied out of the library's call: the library's strings
// last only for the call, and JavaScript must not run inside it.
struct PendingEvent {
  std::uint64_t client;
  std::string kind;  // "value", a lifecycle event's name, or "change"
  std::string key;
  bool hasValue = false;
  std::string value;
  int reason = 0;
  std::vector<std::string> keys;
};

class AddonState {
 public:
  AddonState(Napi::Env env, Napi::Function deviceClass, Napi::Function dispatch,
             Napi::Function diagnostic);
  ~AddonState();
  AddonState(const AddonState&) = delete;
  AddonState& operator=(const AddonState&) = delete;

  // The environment's state, or none where the environment did not claim the main loop.
  static AddonState* of(Napi::Env env);
  // The same, or a WRONG_THREAD error.
  static AddonState& require(Napi::Env env);
  // Makes this environment the one that drives the main loop: the first to ask, once.
  static void claim(Napi::Env env, Napi::Function deviceClass, Napi::Function dispatch,
                    Napi::Function diagnostic);

  Napi::Env env() const { return env_; }
  LoopWatch& watch() { return *watch_; }
  Napi::Function deviceClass() { return deviceClass_.Value(); }

  std::uint64_t addClient(std::shared_ptr<ClientCore> core, Napi::Object wrapper);
  void removeClient(std::uint64_t id);
  void addDevice(qrn_device** slot) { devices_.insert(slot); }
  void removeDevice(qrn_device** slot) { devices_.erase(slot); }

  void queue(PendingEvent event) { events_.push_back(std::move(event)); }
  // Hands every queued event to JavaScript, each in a callback of its own so that a listener
  // that throws surfaces as an uncaught exception and the others still run.
  void deliver();
  // Stops the watch and frees every client and device: the environment is going away.
  void shutDown();

 private:
  struct LiveClient {
    std::shared_ptr<ClientCore> core;
    Napi::ObjectReference wrapper;  // weak: the wrapper owns the client
  };

  void deliverOne(const PendingEvent& event);

  Napi::Env env_;
  Napi::FunctionReference deviceClass_;
  Napi::FunctionReference dispatch_;
  std::unique_ptr<Napi::AsyncContext> context_;
  std::unique_ptr<LoopWatch> watch_;
  std::unique_ptr<Diagnostics> diagnostics_;
  std::uint64_t nextClient_ = 1;
  std::unordered_map<std::uint64_t, LiveClient> clients_;
  std::unordered_set<qrn_device**> devices_;
  std::vector<PendingEvent> events_;
  bool shutDown_ = false;
};

}  // namespace quorin_node
