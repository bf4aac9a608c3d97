#pragma once

#include <optional>
#include <string_view>

#include "platform/value.hpp"

namespace quorin::platform {

// A suite of user defaults: the values an application keeps across launches under one name.
// Safe to use from any thread.
class UserDefaults {
 public:
  virtual ~UserDefaults() = default;
  virtual std::optional<Value> objectForKey(std::string_view key) const = 0;
  // Every key of the suite with its value.
  virtual Dictionary dictionaryRepresentation() const = 0;
  // Erases the persistent domain `name`: the whole suite of that name, every key in it.
  // A domain that does not exist is no error.
  virtual void removePersistentDomainForName(std::string_view name) = 0;
};

}  // namespace quorin::platform
