#pragma once

#include <optional>
#include <string>

namespace quorin::cli {

// Puts /dev/null on each standard descriptor that the caller left closed, before anything
// opens a file: a database given descriptor 0 would be read as a value, and a file given
// descriptor 1 would take what the command prints. Called first thing; it remembers that
// standard input was closed.
void claimStandardDescriptors();

// Whether standard input was closed when quorin started.
bool standardInputWasClosed();

// The value an argument gives: the argument itself, or for "-" every byte of standard input,
// exactly as read (nothing stripped, not even a final newline), so that a secret need not
// appear on the command line. None, after saying why on standard error, when standard input
// is closed, cannot be read or is not UTF-8 text.
std::optional<std::string> valueFromArgument(const std::string& argument);

}  // namespace quorin::cli
