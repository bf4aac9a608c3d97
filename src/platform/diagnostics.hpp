#pragma once

#include <functional>
#include <string_view>

namespace quorin::platform {

// Takes each diagnostic line the library writes, without its newline, on whichever thread
// wrote it.
using DiagnosticSink = std::function<void(std::string_view line)>;

// The default sink: the line and a newline on standard output, where hosts expect it.
void writeToStandardOutput(std::string_view line);
// For hosts that keep standard output for their own documents.
void writeToStandardError(std::string_view line);

}  // namespace quorin::platform
