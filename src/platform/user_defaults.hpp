#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/value.hpp"

namespace quorin::platform {

// A suite of user defaults: the values an application keeps across launches under one name.
// Safe to use from any thread.
class UserDefaults {
 public:
  virtual ~UserDefaults() = default;
  virtual std::optional<formats::Value> objectForKey(std::string_view key) const = 0;
  // Every key of the suite with its value.
  virtual formats::Dictionary dictionaryRepresentation() const = 0;
  // Erases the persistent domain `name`: the whole suite of that name, every key in it.
  // A domain that does not exist is no error.
  virtual void removePersistentDomainForName(std::string_view name) = 0;
};

// Typed reads. A value of another type reads as none. A number converts to a double or an
// integer only when that holds it exactly, and to a boolean only from 0 or 1; a boolean
// counts as the number 0 or 1.
std::optional<std::string> stringForKey(const UserDefaults& defaults, std::string_view key);
std::optional<double> doubleForKey(const UserDefaults& defaults, std::string_view key);
std::optional<std::int64_t> integerForKey(const UserDefaults& defaults, std::string_view key);
std::optional<bool> boolForKey(const UserDefaults& defaults, std::string_view key);
// Only when every element is a string.
std::optional<std::vector<std::string>> stringArrayForKey(const UserDefaults& defaults,
                                                          std::string_view key);
// Only when every value is a date.
std::optional<std::map<std::string, formats::Date>> dateDictionaryForKey(
    const UserDefaults& defaults, std::string_view key);

}  // namespace quorin::platform
