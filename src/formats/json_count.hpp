#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace quorin::platform {

struct JsonCount {
  bool isObject = false;
  std::size_t count = 0;  // members or elements
};

// Counts the top level of a JSON document fed to it piece by piece, following only its
// brackets, strings and commas: what a document holds, told without the memory a parser needs
// for it. What it does not follow (numbers, literals, escapes, UTF-8) it does not check.
class JsonCounter {
 public:
  void feed(std::string_view piece);
  // None unless one array or object was fed whole, its brackets and strings closed.
  std::optional<JsonCount> finish() const;

 private:
  void take(char c);
  void takeStructure(char c);

  std::vector<char> closers_;  // what each open container waits for, innermost last
  std::size_t markBytes_ = 0;  // of a leading byte-order mark
  std::size_t commas_ = 0;     // at the top level
  bool inString_ = false;
  bool escaped_ = false;
  bool closed_ = false;
  bool broken_ = false;
  bool isObject_ = false;
  bool empty_ = true;
};

}  // namespace quorin::platform
