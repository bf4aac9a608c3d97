#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

#include "keychain/keychain.hpp"
#include "platform/platform.hpp"

namespace quorin::migration {

class JsonObjectFile;
struct MigrationGeneralInfo;

// Reads what the legacy SDK left on the device (a defaults suite, one keychain item, JSON
// files in the Library directory) and writes it reshaped as up to five JSON files into the
// target directory. It changes nothing it reads. No step reports a failure: each one that
// fails writes nothing, and the next one runs.
class LegacyDataMigrator {
 public:
  LegacyDataMigrator(std::shared_ptr<platform::Platform> platform,
                     std::unique_ptr<platform::UserDefaults> userDefaults,
                     keychain::Keychain::Ptr keychain, std::filesystem::path targetDirectory,
                     bool usingLegacyDomain);

  void migrateContext() const;
  void migrateGeneralInfo() const;
  void migrateCachedAnalytics() const;
  void migrateCounters() const;
  void migrateLtoInfo() const;

  // `name` under the user's Library directory; none when the platform reports none.
  static std::optional<std::filesystem::path> legacyDirectory(
      const platform::FileManager& fileManager, std::string_view name);
  // Deletes the legacy directories and the output directory, and the defaults domain named
  // `domain`. Failures are dropped.
  static void clearLegacyData(platform::Platform& platform, std::string_view domain);

 private:
  std::optional<std::string> read(std::string_view directory, std::string_view file) const;
  std::optional<formats::Value> readJson(std::string_view directory, std::string_view file) const;
  void addSyncTime(JsonObjectFile& context) const;
  void fillFromDefaults(MigrationGeneralInfo& info) const;
  void fillFromFiles(MigrationGeneralInfo& info) const;

  std::shared_ptr<platform::Platform> platform_;
  platform::FileManager& fileManager_;
  std::unique_ptr<platform::UserDefaults> userDefaults_;
  keychain::Keychain::Ptr keychain_;
  std::filesystem::path targetDirectory_;
  bool usingLegacyDomain_;
};

}  // namespace quorin::migration
