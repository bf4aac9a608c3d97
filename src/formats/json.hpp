#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/value.hpp"

namespace quorin::formats {

// The deepest nesting a document may have; its top level is depth 1.
inline constexpr int kMaxJsonDepth = 1024;

// Strict JSON whose top level is an array or an object, after an optional UTF-8 byte-order
// mark. Integers that fit 64 bits stay integers; every other number, integers written out
// beyond 64 bits included, is a double. None for anything that is not such a document: bad
// syntax or UTF-8, or nesting deeper than kMaxJsonDepth.
std::optional<Value> parseJson(std::string_view text);

// Compact JSON: no spaces, members in key order, doubles in their shortest round-trip form.
// None for what JSON cannot hold: a non-finite number, a date, data, a platform object, or
// text that is not UTF-8.
std::optional<std::string> writeJson(const Value& value);
// The same, appended to `out`; on failure `out` is left as it was.
bool appendJson(const Value& value, std::string& out);
bool appendJsonString(std::string_view text, std::string& out);

// A member of an outlined object: its name, and its value as the document spells it.
struct JsonMember {
  std::string name;
  std::string_view text;
  bool compact = false;  // the text has no white space between its tokens
};

// The top level of a document that parseJson would accept, taken apart no further, so that
// large documents pass through without becoming values.
struct JsonOutline {
  std::string_view text;  // the document, without a byte-order mark
  bool isObject = false;
  int depth = 1;                    // of the deepest container
  std::size_t count = 0;            // members or elements
  std::vector<JsonMember> members;  // an object's, in document order, repeats included
  bool compact = false;             // the whole text has no white space outside strings
  // Where values start, about a megabyte apart, in document order.
  std::vector<const char*> breaks;

  // `part` of the outlined text (a member's text, or all of it) cut at the breaks, so that
  // each piece can be made compact on its own.
  std::vector<std::string_view> pieces(std::string_view part) const {
    std::vector<std::string_view> result;
    const char* from = part.data();
    const char* end = part.data() + part.size();
    for (const char* at : breaks) {
      if (at <= from || at >= end) continue;
      result.emplace_back(from, static_cast<std::size_t>(at - from));
      from = at;
    }
    result.emplace_back(from, static_cast<std::size_t>(end - from));
    return result;
  }
};

// None where parseJson gives none. The members' texts point into `text`. Spare capacity of
// 64 bytes past the end of `text` saves a copy.
std::optional<JsonOutline> outlineJson(const std::string& text);

// A member as JsonOutliner leaves it: the name unescaped, pointing into the document or, when
// the document spells it with escapes, into the outliner.
struct JsonMemberView {
  std::string_view name;
  std::string_view text;
  bool compact = false;
  bool escapedName = false;
};

// Outlines one document after another with one parser, whose buffers grow to the largest
// document and are kept until the outliner goes, and names members in place rather than
// copying each name. What an outline points to stays valid until the next one.
class JsonOutliner {
 public:
  JsonOutliner();
  ~JsonOutliner();
  JsonOutliner(const JsonOutliner&) = delete;
  JsonOutliner& operator=(const JsonOutliner&) = delete;

  // As outlineJson, for `text` with `capacity` bytes readable from its start; 64 past its end
  // save a copy. The members are left empty: an object's are in members().
  std::optional<JsonOutline> outline(std::string_view text, std::size_t capacity);
  // Room for documents of `bytes` bytes, taken now rather than as each larger one comes.
  void reserve(std::size_t bytes);
  const std::vector<JsonMemberView>& members() const { return members_; }

 private:
  struct Parser;
  std::unique_ptr<Parser> parser_;
  std::vector<JsonMemberView> members_;
};

// Appends `json`, a valid JSON text or a piece of one cut where a value starts, without the
// white space between its tokens.
void appendCompactJson(std::string_view json, std::string& out);

}  // namespace quorin::formats
