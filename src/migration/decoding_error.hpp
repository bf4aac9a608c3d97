#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace quorin::migration {

// Why a record could not be decoded from JSON, in the terms a JSON decoder reports.
class DecodingError : public std::runtime_error {
 public:
  enum class Kind { keyNotFound, valueNotFound, typeMismatch, dataCorrupted };

  DecodingError(Kind what, std::vector<std::string> path, const std::string& description)
      : std::runtime_error(description), kind(what), codingPath(std::move(path)) {}

  Kind kind;
  // The keys from the top of the document to the failing value; "Index 3" for an element.
  std::vector<std::string> codingPath;
};

}  // namespace quorin::migration
