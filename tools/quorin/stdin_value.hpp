#pragma once

#include <optional>
#include <string>

namespace quorin::cli {

// The value an argument gives: the argument itself, or for "-" every byte of standard input,
// exactly as read (nothing stripped, not even a final newline), so that a secret need not
// appear on the command line. None, after saying why on standard error, when standard input
// cannot be read or is not UTF-8 text.
std::optional<std::string> valueFromArgument(const std::string& argument);

}  // namespace quorin::cli
