#include "platform/diagnostics.hpp"

#include <cstdio>
#include <string>

namespace quorin::platform {
namespace {

// One write per line, so that lines from several threads do not interleave.
void writeLine(std::string_view line, std::FILE* stream) {
  std::string whole(line);
  whole.push_back('\n');
  std::fwrite(whole.data(), 1, whole.size(), stream);
  std::fflush(stream);
}

}  // namespace

void writeToStandardOutput(std::string_view line) {
  writeLine(line, stdout);
}

void writeToStandardError(std::string_view line) {
  writeLine(line, stderr);
}

}  // namespace quorin::platform
