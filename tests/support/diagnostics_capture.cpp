#include "support/diagnostics_capture.hpp"

#include <unistd.h>

#include <iostream>
#include <stdexcept>

namespace quorin::testing {
namespace {

// Both C and C++ streams carry diagnostics; neither may keep bytes back across a switch.
void flushStandardOutput() {
  std::cout.flush();
  std::fflush(stdout);
}

}  // namespace

DiagnosticsCapture::DiagnosticsCapture() : collected_(std::tmpfile()), original_(-1) {
  if (collected_ == nullptr) throw std::runtime_error("no temporary file for diagnostics");
  flushStandardOutput();
  original_ = ::dup(STDOUT_FILENO);
  if (original_ < 0 || ::dup2(::fileno(collected_), STDOUT_FILENO) < 0) {
    std::fclose(collected_);
    throw std::runtime_error("standard output cannot be redirected");
  }
}

DiagnosticsCapture::~DiagnosticsCapture() {
  flushStandardOutput();
  ::dup2(original_, STDOUT_FILENO);
  ::close(original_);
  std::fclose(collected_);
}

std::string DiagnosticsCapture::text() const {
  flushStandardOutput();
  std::string text;
  char buffer[4096];
  for (off_t offset = 0;;) {
    ssize_t got = ::pread(::fileno(collected_), buffer, sizeof buffer, offset);
    if (got <= 0) return text;
    text.append(buffer, static_cast<std::size_t>(got));
    offset += got;
  }
}

std::vector<std::string> DiagnosticsCapture::lines() const {
  std::vector<std::string> lines;
  std::string all = text();
  for (std::size_t start = 0; start < all.size();) {
    std::size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    lines.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace quorin::testing
