#pragma once

// Routes the library's diagnostic lines, written on any thread, to a JavaScript function
// through a thread-safe function, so that none reaches the process's standard output. The
// thread-safe function does not keep the process alive.

#include <napi.h>

namespace quorin_node {

class Diagnostics {
 public:
  Diagnostics(Napi::Env env, Napi::Function receiver);
  // Lines written from now on are dropped, never sent to standard output.
  ~Diagnostics();
  Diagnostics(const Diagnostics&) = delete;
  Diagnostics& operator=(const Diagnostics&) = delete;

 private:
  static void forward(void* context, const char* line);

  Napi::ThreadSafeFunction lines_;
};

}  // namespace quorin_node
