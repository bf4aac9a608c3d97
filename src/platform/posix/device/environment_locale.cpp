#include "platform/posix/device/environment_locale.hpp"

#include <algorithm>
#include <cctype>

namespace quorin::platform::posix {
namespace {

struct LocaleName {
  std::string language;
  std::string territory;
};

bool allOf(std::string_view text, int (*predicate)(int)) {
  return std::all_of(text.begin(), text.end(),
                     [&](unsigned char c) { return c < 0x80 && predicate(c) != 0; });
}

std::string transformed(std::string_view text, int (*convert)(int)) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [&](unsigned char c) { return static_cast<char>(convert(c)); });
  return out;
}

// language[_territory][.codeset][@modifier]
std::optional<LocaleName> parseLocaleName(std::string_view name) {
  name = name.substr(0, name.find_first_of(".@"));
  auto underscore = name.find('_');
  std::string_view language = name.substr(0, underscore);
  std::string_view territory =
      underscore == std::string_view::npos ? std::string_view{} : name.substr(underscore + 1);
  if (language.size() < 2 || language.size() > 3 || !allOf(language, isalpha)) return std::nullopt;
  bool territoryValid = territory.empty() || (territory.size() == 2 && allOf(territory, isalpha)) ||
                        (territory.size() == 3 && allOf(territory, isdigit));
  if (!territoryValid) return std::nullopt;
  return LocaleName{transformed(language, tolower), transformed(territory, toupper)};
}

std::string_view lookup(const std::map<std::string, std::string>& environment,
                        std::string_view key) {
  auto it = environment.find(std::string(key));
  return it == environment.end() ? std::string_view{} : std::string_view(it->second);
}

std::string_view effectiveLocale(const std::map<std::string, std::string>& environment) {
  for (auto key : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    auto value = lookup(environment, key);
    if (!value.empty()) return value;
  }
  return {};
}

void appendUnique(std::vector<std::string>& list, std::optional<std::string> tag) {
  if (tag && std::find(list.begin(), list.end(), *tag) == list.end()) list.push_back(*tag);
}

}  // namespace

std::optional<std::string> languageTagFromLocaleName(std::string_view name) {
  auto parsed = parseLocaleName(name);
  if (!parsed) return std::nullopt;
  return parsed->territory.empty() ? parsed->language : parsed->language + "-" + parsed->territory;
}

std::optional<std::string> regionFromLocaleName(std::string_view name) {
  auto parsed = parseLocaleName(name);
  if (!parsed || parsed->territory.empty()) return std::nullopt;
  return parsed->territory;
}

EnvironmentLocale::EnvironmentLocale(const std::map<std::string, std::string>& environment) {
  auto locale = effectiveLocale(environment);
  // As gettext does, LANGUAGE only counts when a real locale is selected.
  if (languageTagFromLocaleName(locale)) {
    std::string_view list = lookup(environment, "LANGUAGE");
    while (!list.empty()) {
      auto colon = list.find(':');
      appendUnique(languages_, languageTagFromLocaleName(list.substr(0, colon)));
      list = colon == std::string_view::npos ? std::string_view{} : list.substr(colon + 1);
    }
  }
  appendUnique(languages_, languageTagFromLocaleName(locale));
  region_ = regionFromLocaleName(locale);
}

}  // namespace quorin::platform::posix
