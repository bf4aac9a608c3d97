#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/user_defaults.hpp"

namespace quorin::platform::posix {

// Whether `name` can name a suite: a plain file name, without "/" or NUL, and not "." or "..".
bool isSuiteName(std::string_view name);

// A suite's contents from the bytes of its file: a binary or XML property list whose top
// level is a dictionary. None for anything else.
std::optional<formats::Dictionary> parseSuite(std::string_view bytes);

// Suites as iOS keeps them: `<preferences>/<suite>.plist`. A suite is read when it is opened;
// a missing file is an empty suite, and so is a damaged one, which is left as it is.
class PlistUserDefaults final : public UserDefaults {
 public:
  // None when `suiteName` is not a suite name.
  static std::unique_ptr<PlistUserDefaults> open(std::filesystem::path preferences,
                                                 std::string_view suiteName);

  std::optional<formats::Value> objectForKey(std::string_view key) const override;
  formats::Dictionary dictionaryRepresentation() const override;
  void removePersistentDomainForName(std::string_view name) override;

  // Why the suite's file could not be read, or none.
  std::optional<std::string> problem() const;

 private:
  PlistUserDefaults(std::filesystem::path preferences, std::string suiteName);

  const std::filesystem::path preferences_;
  const std::string suiteName_;
  mutable std::mutex mutex_;
  formats::Dictionary values_;
  std::optional<std::string> problem_;
};

}  // namespace quorin::platform::posix
