#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/device/environment_locale.hpp"

// The input is a locale name, then optionally a NUL and a LANGUAGE list.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  auto nul = text.find('\0');
  std::string name = text.substr(0, nul);
  std::string languages = nul == std::string::npos ? "" : text.substr(nul + 1);
  auto tag = quorin::platform::posix::languageTagFromLocaleName(name);
  if (tag && (tag->size() < 2 || tag->size() > 7)) std::abort();
  quorin::platform::posix::EnvironmentLocale locale({{"LANG", name}, {"LANGUAGE", languages}});
  for (const auto& language : locale.preferredLanguages())
    if (language.empty()) std::abort();
  return 0;
}
