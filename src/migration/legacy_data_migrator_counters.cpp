#include "formats/utf8.hpp"
#include "migration/json_form.hpp"
#include "migration/json_object_file.hpp"
#include "migration/legacy_data_migrator.hpp"
#include "migration/legacy_names.hpp"

namespace quorin::migration {
using formats::Dictionary;
using formats::Value;

void LegacyDataMigrator::migrateCounters() const {
  Dictionary counters;
  for (auto key : kLegacyCounterKeys)
    if (auto value = userDefaults_->objectForKey(key)) counters.emplace(key, std::move(*value));

  std::optional<Dictionary> perTrigger;
  for (auto& [key, value] : userDefaults_->dictionaryRepresentation()) {
    if (!key.starts_with(kPerTriggerCounterPrefix)) continue;
    if (!perTrigger) {
      auto stored = counters.find(kPerTriggerCountersKey);
      if (stored == counters.end())
        perTrigger.emplace();
      else if (const auto* nested = stored->second.get<Dictionary>())
        perTrigger = *nested;
      else
        continue;  // a stored counter of another kind stays as it is
    }
    // One JSON cannot hold is left out here, so that none left over still makes the member.
    if (auto form = jsonForm(value); form && formats::isValidUtf8(key))
      perTrigger->insert_or_assign(key, std::move(*form));
  }
  if (perTrigger && !perTrigger->empty())
    counters.insert_or_assign(std::string(kPerTriggerCountersKey), Value(std::move(*perTrigger)));

  auto form = jsonForm(Value(std::move(counters)));
  if (!form || form->get<Dictionary>()->empty()) return;
  writeOutputFile(fileManager_, targetDirectory_, OutputFile::counters, *form);
}

}  // namespace quorin::migration
