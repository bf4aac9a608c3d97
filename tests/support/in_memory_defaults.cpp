#include "support/in_memory_defaults.hpp"

namespace quorin::testing {

class InMemorySuite final : public platform::UserDefaults {
 public:
  InMemorySuite(InMemoryDefaults& all, std::string name) : all_(all), name_(std::move(name)) {}

  std::optional<formats::Value> objectForKey(std::string_view key) const override {
    std::lock_guard lock(all_.mutex_);
    auto suite = all_.suites_.find(name_);
    if (suite == all_.suites_.end()) return std::nullopt;
    auto it = suite->second.find(key);
    if (it == suite->second.end()) return std::nullopt;
    return it->second;
  }
  formats::Dictionary dictionaryRepresentation() const override {
    std::lock_guard lock(all_.mutex_);
    auto suite = all_.suites_.find(name_);
    return suite == all_.suites_.end() ? formats::Dictionary() : suite->second;
  }
  void removePersistentDomainForName(std::string_view name) override {
    std::lock_guard lock(all_.mutex_);
    if (auto suite = all_.suites_.find(name); suite != all_.suites_.end())
      all_.suites_.erase(suite);
  }

 private:
  InMemoryDefaults& all_;
  std::string name_;
};

std::unique_ptr<platform::UserDefaults> InMemoryDefaults::open(std::string_view suiteName) {
  if (refused.contains(std::string(suiteName))) return nullptr;
  return std::make_unique<InMemorySuite>(*this, std::string(suiteName));
}

void InMemoryDefaults::set(const std::string& suite, const std::string& key, formats::Value value) {
  std::lock_guard lock(mutex_);
  suites_[suite].insert_or_assign(key, std::move(value));
}

bool InMemoryDefaults::exists(const std::string& suite) const {
  std::lock_guard lock(mutex_);
  return suites_.contains(suite);
}

}  // namespace quorin::testing
