#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/value.hpp"
#include "migration/decoding_error.hpp"

namespace quorin::migration {

using CodingPath = std::vector<std::string>;

// Reads the members of one JSON object the way a typed decoder does: a required member that
// is missing or null, or a member of the wrong type, throws DecodingError; an optional one
// that is missing or null reads as none.
class KeyedDecoder {
 public:
  // Throws when `value` is no object.
  KeyedDecoder(const formats::Value& value, CodingPath path);

  const formats::Dictionary& members() const { return members_; }
  const CodingPath& codingPath() const { return path_; }
  CodingPath pathTo(std::string_view key) const;

  std::string string(std::string_view key) const;
  std::optional<std::string> optionalString(std::string_view key) const;
  // A whole number in the 64-bit range; a fraction or a number past the range is corrupt.
  std::int64_t integer(std::string_view key) const;
  std::optional<std::int64_t> optionalInteger(std::string_view key) const;
  bool boolean(std::string_view key) const;
  // The member, or none when it is missing or null.
  const formats::Value* optionalValue(std::string_view key) const;
  // The member; throws when it is missing or null.
  const formats::Value& value(std::string_view key, std::string_view type) const;

  [[noreturn]] void corrupt(std::string_view key, const std::string& description) const;

 private:
  const formats::Dictionary& members_;
  CodingPath path_;
};

// The name of the JSON type of `value`, as a decoder's message calls it.
std::string_view jsonTypeName(const formats::Value& value);

}  // namespace quorin::migration
