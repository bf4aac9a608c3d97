#include <cmath>

#include "migration/json_object_file.hpp"
#include "migration/legacy_data_migrator.hpp"
#include "migration/legacy_names.hpp"
#include "platform/json.hpp"

namespace quorin::migration {
namespace {

using platform::Array;
using platform::Dictionary;
using platform::Value;

// The value less whatever JSON cannot hold (dates, data, non-finite numbers), or none when
// nothing of it is left.
std::optional<Value> jsonForm(const Value& value) {
  if (const auto* array = value.get<Array>()) {
    Array kept;
    for (const auto& element : *array)
      if (auto form = jsonForm(element)) kept.push_back(std::move(*form));
    return Value(std::move(kept));
  }
  if (const auto* dictionary = value.get<Dictionary>()) {
    Dictionary kept;
    for (const auto& [key, member] : *dictionary)
      if (auto form = jsonForm(member)) kept.emplace(key, std::move(*form));
    return Value(std::move(kept));
  }
  if (const auto* real = value.get<double>(); real && !std::isfinite(*real)) return std::nullopt;
  if (value.is<platform::Date>() || value.is<platform::Data>() || value.is<platform::ObjectRef>())
    return std::nullopt;
  return value;
}

}  // namespace

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
    perTrigger->insert_or_assign(key, std::move(value));
  }
  if (perTrigger && !perTrigger->empty())
    counters.insert_or_assign(std::string(kPerTriggerCountersKey), Value(std::move(*perTrigger)));

  auto form = jsonForm(Value(std::move(counters)));
  if (!form || form->get<Dictionary>()->empty()) return;
  if (!ensureDirectory(fileManager_, targetDirectory_)) return;
  if (auto json = platform::writeJson(*form))
    writeOutputFile(fileManager_, targetDirectory_, OutputFile::counters, *json);
}

}  // namespace quorin::migration
