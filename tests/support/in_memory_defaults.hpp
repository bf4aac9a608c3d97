#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/user_defaults.hpp"

namespace quorin::testing {

// Every suite of the device in memory, by name. A test fills them directly and may make the
// platform refuse a suite name.
class InMemoryDefaults {
 public:
  std::unique_ptr<platform::UserDefaults> open(std::string_view suiteName);

  void set(const std::string& suite, const std::string& key, formats::Value value);
  bool exists(const std::string& suite) const;
  std::set<std::string> refused;

 private:
  friend class InMemorySuite;

  mutable std::mutex mutex_;
  std::map<std::string, formats::Dictionary, std::less<>> suites_;
};

}  // namespace quorin::testing
