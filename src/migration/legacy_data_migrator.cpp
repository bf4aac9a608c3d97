#include "migration/legacy_data_migrator.hpp"

#include "formats/json.hpp"
#include "migration/decoding_error.hpp"
#include "migration/json_object_file.hpp"
#include "migration/legacy_lto_info.hpp"
#include "migration/legacy_names.hpp"
#include "migration/migration_records.hpp"
#include "migration/name_set.hpp"

namespace quorin::migration {

using formats::Value;

namespace {

// A whole document written as a member goes one level deeper than it was read, which the
// deepest readable document cannot.
bool nestable(const formats::JsonOutline& outline) {
  return outline.depth < formats::kMaxJsonDepth;
}

// Legacy files of one directory read and outlined one after another, through one buffer and
// one parser that grow to the largest of them.
class OutlinedFiles {
 public:
  OutlinedFiles(const platform::FileManager& files, std::filesystem::path directory)
      : files_(files), directory_(std::move(directory)) {}

  // Sizes the buffer and the parser for `file` too, before any is read: grown file by file,
  // each would fault in fresh memory as large as the file again.
  void sizeFor(std::string_view file) {
    auto size = files_.sizeOf(directory_ / file);
    if (!size) return;
    // One byte more, for a read to tell that the file grew.
    buffer_.reserve(*size + 1);
    outliner_.reserve(*size + 1);
  }
  // What the outline points to stays valid until the next file.
  std::optional<formats::JsonOutline> outline(std::string_view file) {
    if (!files_.readInto(directory_ / file, buffer_)) return std::nullopt;
    return outliner_.outline(buffer_.bytes(), buffer_.capacity());
  }
  const std::vector<formats::JsonMemberView>& members() const { return outliner_.members(); }

 private:
  const platform::FileManager& files_;
  std::filesystem::path directory_;
  formats::FileBuffer buffer_;
  formats::JsonOutliner outliner_;
};

}  // namespace

LegacyDataMigrator::LegacyDataMigrator(std::shared_ptr<platform::Platform> platform,
                                       std::unique_ptr<platform::UserDefaults> userDefaults,
                                       keychain::Keychain::Ptr keychain,
                                       std::filesystem::path targetDirectory,
                                       bool usingLegacyDomain)
    : platform_(std::move(platform)),
      fileManager_(platform_->fileManager()),
      userDefaults_(std::move(userDefaults)),
      keychain_(std::move(keychain)),
      targetDirectory_(std::move(targetDirectory)),
      usingLegacyDomain_(usingLegacyDomain) {}

std::optional<std::filesystem::path> LegacyDataMigrator::legacyDirectory(
    const platform::FileManager& fileManager, std::string_view name) {
  auto library = fileManager.libraryDirectory();
  if (!library) return std::nullopt;
  return *library / name;
}

std::optional<std::string> LegacyDataMigrator::read(std::string_view directory,
                                                    std::string_view file) const {
  auto path = legacyDirectory(fileManager_, directory);
  if (!path) return std::nullopt;
  return fileManager_.contents(*path / file);
}

std::optional<Value> LegacyDataMigrator::readJson(std::string_view directory,
                                                  std::string_view file) const {
  auto bytes = read(directory, file);
  if (!bytes) return std::nullopt;
  return formats::parseJson(*bytes);
}

void LegacyDataMigrator::addSyncTime(JsonObjectFile& context) const {
  auto syncTime = readJson(LegacyDirectory::campaigns, kContextSyncTimeFile);
  const auto* interval = syncTime ? syncTime->find("remoteTimeInterval") : nullptr;
  if (interval == nullptr) return;
  if (const auto* integer = interval->get<std::int64_t>())
    context.add("context_built_at", Value(static_cast<double>(*integer)));
  else if (const auto* real = interval->get<double>())
    context.add("context_built_at", Value(*real));
}

void LegacyDataMigrator::migrateContext() const {
  auto directory = legacyDirectory(fileManager_, LegacyDirectory::campaigns);
  if (!directory) return;
  JsonObjectFile context(fileManager_, targetDirectory_, std::string(OutputFile::context));
  OutlinedFiles files(fileManager_, *directory);
  for (auto [file, member] : kContextFiles) files.sizeFor(file);
  for (auto [file, member] : kContextFiles) {
    auto outline = files.outline(file);
    if (outline && nestable(*outline)) context.addDocument(member, *outline);
  }
  addSyncTime(context);
  context.commit();
}

// Files are taken last first, and each file's members last first, so that the first value
// written under a name is the one that wins, and the output is written as it is read.
void LegacyDataMigrator::migrateCachedAnalytics() const {
  auto directory = legacyDirectory(fileManager_, LegacyDirectory::campaigns);
  if (!directory) return;
  JsonObjectFile analytics(fileManager_, targetDirectory_,
                           std::string(OutputFile::cachedAnalytics));
  OutlinedFiles files(fileManager_, *directory);
  for (auto file : kLegacyAnalyticsFiles) files.sizeFor(file);
  NameSet written;
  for (auto file = kLegacyAnalyticsFiles.rbegin(); file != kLegacyAnalyticsFiles.rend(); ++file) {
    auto outline = files.outline(*file);
    if (!outline || outline->count == 0) continue;
    if (!outline->isObject) {
      if (nestable(*outline) && written.insert(*file)) analytics.addDocument(*file, *outline);
      continue;
    }
    const auto& members = files.members();
    auto fromLast = [&](std::size_t i) -> const auto& {
      return members[members.size() - 1 - i];
    };
    written.insertEach(
        members.size(), [&](std::size_t i) { return fromLast(i).name; },
        [&](std::size_t i) { analytics.addMember(fromLast(i), *outline); });
  }
  analytics.commit();
}

void LegacyDataMigrator::migrateLtoInfo() const {
  auto list = readJson(LegacyDirectory::campaigns, kLtoCampaignsFile);
  if (!list) return;
  std::vector<std::shared_ptr<const LegacyLtoInfo>> legacyInfos;
  try {
    legacyInfos = decodeLegacyLtoInfos(*list);
  } catch (const DecodingError&) {
    return;
  }
  const auto& calendar = platform_->calendar();
  formats::Array infos;
  infos.reserve(legacyInfos.size());
  for (const auto& legacy : legacyInfos) {
    MigrationLtoInfo info{legacy->isPriorityLaunch,
                          legacy->launchedTrigger,
                          legacy->defaultSpotImage,
                          legacy->ltoContext->campaignName,
                          legacy->spot,
                          static_cast<double>(legacy->startTime),
                          static_cast<double>(legacy->computedEndTime(calendar))};
    infos.push_back(info.encode());
  }
  writeOutputFile(fileManager_, targetDirectory_, OutputFile::ltoInfo, Value(std::move(infos)));
}

}  // namespace quorin::migration
