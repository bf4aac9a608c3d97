#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorin::formats {

// What a message may quote of text it does not control (a server's words, a file's).
inline constexpr std::size_t kExcerptBytes = 300;

// The start of `text`, at most `limit` bytes long, fit for a terminal and a log line: every
// control character (C0, DEL and C1), every byte that is not UTF-8 and the backslash are
// escaped (\n, \t, \x1b, \u009b, \\), and text that does not fit ends in "...".
std::string excerpt(std::string_view text, std::size_t limit = kExcerptBytes);

}  // namespace quorin::formats
