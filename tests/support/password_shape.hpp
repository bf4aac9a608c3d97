#pragma once

#include <cctype>
#include <string>

namespace quorin::testing {

// Four groups of three letters and digits joined by "-".
inline bool hasPasswordShape(const std::string& text) {
  if (text.size() != 15) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool ok = i % 4 == 3 ? text[i] == '-' : std::isalnum(static_cast<unsigned char>(text[i])) != 0;
    if (!ok) return false;
  }
  return true;
}

}  // namespace quorin::testing
