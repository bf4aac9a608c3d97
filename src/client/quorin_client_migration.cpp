#include "client/quorin_client.hpp"
#include "keychain/no_throw.hpp"
#include "migration/legacy_names.hpp"

namespace quorin {
using keychain::Keychain;
using migration::LegacyDataMigrator;

std::string_view QuorinClient::resolveMigrationDomain() const {
  for (auto domain : {quorinDomain, morventDomain}) {
    auto keychain = Keychain::withService(platform_, std::string(domain));
    auto identifier = keychain::absentOnError([&] {
      return keychain->getString(std::string(migration::kSharedIdentifierKey),
                                 keychain::IgnoringAttributeSynchronizable::yes);
    });
    if (identifier) return domain;
  }
  return quorinDomain;
}

std::optional<std::string> QuorinClient::collectMigrationData() {
  auto domain = resolveMigrationDomain();
  auto target = LegacyDataMigrator::legacyDirectory(platform_->fileManager(),
                                                    migration::LegacyDirectory::output);
  if (!target) return std::nullopt;
  // The output holds the client identifier: a directory an earlier release left readable by
  // others is made again, so that a platform keeping it private narrows it, whether or not
  // anything is written there now.
  auto& files = platform_->fileManager();
  if (files.fileExists(*target)) files.createDirectory(*target);
  auto defaults = platform_->makeUserDefaults(domain);
  if (!defaults) return std::nullopt;
  bool usingLegacyDomain = domain == morventDomain;
  auto migrator = std::make_shared<LegacyDataMigrator>(
      platform_, std::move(defaults), Keychain::withService(platform_, std::string(domain)),
      *target, usingLegacyDomain);
  migrator->migrateContext();
  migrator->migrateGeneralInfo();
  migrator->migrateCachedAnalytics();
  migrator->migrateCounters();
  migrator->migrateLtoInfo();
  dataMigrator_ = std::move(migrator);
  return target->string();
}

void QuorinClient::clearDataAfterMigration() {
  if (!dataMigrator_) return;
  LegacyDataMigrator::clearLegacyData(*platform_, resolveMigrationDomain());
}

}  // namespace quorin
