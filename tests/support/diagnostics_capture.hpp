#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace quorin::testing {

// Collects the diagnostic lines the library writes while this object lives. Tests reach the
// diagnostics only through text() and lines(), so where they are collected from can change
// without touching a test; today that is standard output, taken over for the lifetime.
class DiagnosticsCapture final {
 public:
  DiagnosticsCapture();
  ~DiagnosticsCapture();
  DiagnosticsCapture(const DiagnosticsCapture&) = delete;
  DiagnosticsCapture& operator=(const DiagnosticsCapture&) = delete;

  // Everything written so far, as written.
  std::string text() const;
  // The same, one entry per line, without the line ends.
  std::vector<std::string> lines() const;

 private:
  std::FILE* collected_;
  int original_;
};

}  // namespace quorin::testing
