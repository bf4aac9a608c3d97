#pragma once

// A client of the C interface and the lock that keeps its calls one at a time, as the C
// interface asks: held by calls on the JavaScript thread and by jobs on the thread pool. The
// handle becomes NULL once freed; every call checks it under the lock.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include <quorin/quorin.h>

namespace quorin_node {

class AddonState;

struct ClientCore {
  std::mutex mutex;
  qrn_client* handle = nullptr;
  std::uint64_t id = 0;
  AddonState* state = nullptr;
  // Set only on the thread asking for a cloud value, for that call: a value already there
  // is answered inside it, on that thread.
  std::optional<std::optional<std::string>>* captured = nullptr;

  ~ClientCore() { free(); }
  void free();
};

// The C callbacks of a client: each copies what it is given into the state's queue.
void listenForValues(ClientCore& core);
void listenFor(ClientCore& core, const std::string& event, bool on);

}  // namespace quorin_node
