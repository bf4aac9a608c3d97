#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace quorin::formats {

struct JsonCount {
  bool isObject = false;
  std::size_t count = 0;  // members or elements
};

// Counts the top level of a JSON document fed to it piece by piece: what a document holds,
// told without the memory a parser needs for it. It follows the document's structure (brackets,
// keys, colons, commas, values) and the spelling of true, false, null and of the characters of
// numbers; it does not check a number's form, a string's escapes or UTF-8.
class JsonCounter {
 public:
  void feed(std::string_view piece);
  // False once what was fed cannot be the start of a document: more will not change that.
  bool following() const { return !broken_; }
  // None unless one array or object was fed whole and well formed as far as it follows.
  std::optional<JsonCount> finish() const;

 private:
  // What may come next at the innermost open level.
  enum class Expect : std::uint8_t { valueOrClose, value, keyOrClose, key, colon, commaOrClose };

  void take(char c);
  void takeStructure(char c);
  void open(char c);
  void close(char c);
  void quote();
  void endString();
  void endScalar();
  void valueDone();
  bool expectsValue() const { return expect_ == Expect::value || expect_ == Expect::valueOrClose; }

  std::vector<char> closers_;  // what each open container waits for, innermost last
  Expect expect_ = Expect::value;
  std::size_t markBytes_ = 0;  // of a leading byte-order mark
  std::size_t count_ = 0;      // values at the top level
  bool onlyMark_ = true;       // nothing but a byte-order mark's bytes yet
  bool inString_ = false;
  bool stringIsKey_ = false;
  bool escaped_ = false;
  bool inScalar_ = false;
  char scalar_[6] = {};  // the first bytes of a literal or number being read
  std::size_t scalarLength_ = 0;
  bool closed_ = false;
  bool broken_ = false;
  bool isObject_ = false;
};

}  // namespace quorin::formats
