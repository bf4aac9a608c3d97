#include "migration/legacy_data_migrator.hpp"
#include "migration/legacy_names.hpp"

namespace quorin::migration {

void LegacyDataMigrator::clearLegacyData(platform::Platform& platform, std::string_view domain) {
  auto& files = platform.fileManager();
  for (auto name : {LegacyDirectory::campaigns, LegacyDirectory::installedApps,
                    LegacyDirectory::mediaSource, LegacyDirectory::output}) {
    auto directory = legacyDirectory(files, name);
    if (directory && files.fileExists(*directory)) files.removeItem(*directory);
  }
  platform.standardUserDefaults().removePersistentDomainForName(domain);
}

}  // namespace quorin::migration
