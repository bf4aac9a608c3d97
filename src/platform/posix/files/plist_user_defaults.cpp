#include "platform/posix/files/plist_user_defaults.hpp"

#include "formats/plist_codec.hpp"
#include "platform/posix/files/file_io.hpp"

namespace quorin::platform::posix {
namespace {

std::filesystem::path suitePath(const std::filesystem::path& preferences, std::string_view name) {
  return preferences / (std::string(name) + ".plist");
}

}  // namespace

bool isSuiteName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

std::optional<formats::Dictionary> parseSuite(std::string_view bytes) {
  auto value = formats::parsePlist(bytes);
  auto* dictionary = value ? value->get<formats::Dictionary>() : nullptr;
  if (!dictionary) return std::nullopt;
  return std::move(*dictionary);
}

std::unique_ptr<PlistUserDefaults> PlistUserDefaults::open(std::filesystem::path preferences,
                                                           std::string_view suiteName) {
  if (!isSuiteName(suiteName)) return nullptr;
  return std::unique_ptr<PlistUserDefaults>(
      new PlistUserDefaults(std::move(preferences), std::string(suiteName)));
}

PlistUserDefaults::PlistUserDefaults(std::filesystem::path preferences, std::string suiteName)
    : preferences_(std::move(preferences)), suiteName_(std::move(suiteName)) {
  auto path = suitePath(preferences_, suiteName_);
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return;
  auto bytes = readFile(path);
  auto suite = bytes ? parseSuite(*bytes) : std::nullopt;
  if (suite) {
    values_ = std::move(*suite);
  } else {
    auto why = bytes ? "is not a property list of defaults" : whyUnreadable(path);
    problem_ = path.string() + " " + why + "; it reads as empty";
  }
}

std::optional<formats::Value> PlistUserDefaults::objectForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

formats::Dictionary PlistUserDefaults::dictionaryRepresentation() const {
  std::lock_guard lock(mutex_);
  return values_;
}

void PlistUserDefaults::removePersistentDomainForName(std::string_view name) {
  if (!isSuiteName(name)) return;
  std::error_code ignored;
  std::filesystem::remove(suitePath(preferences_, name), ignored);
  if (name != suiteName_) return;
  std::lock_guard lock(mutex_);
  values_.clear();
  problem_.reset();
}

std::optional<std::string> PlistUserDefaults::problem() const {
  std::lock_guard lock(mutex_);
  return problem_;
}

}  // namespace quorin::platform::posix
