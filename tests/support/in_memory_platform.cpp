#include "support/in_memory_platform.hpp"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace quorin::testing {

void FakeDevice::setMachine(std::string_view machine) {
  system.machine.fill(0);
  std::copy_n(machine.begin(), std::min(machine.size(), system.machine.size()),
              system.machine.begin());
}

bool FakeProcessInfo::isOperatingSystemAtLeast(platform::OperatingSystemVersion version) const {
  return std::tie(osVersion.majorVersion, osVersion.minorVersion, osVersion.patchVersion) >=
         std::tie(version.majorVersion, version.minorVersion, version.patchVersion);
}

std::optional<formats::Value> FakeBundle::objectForInfoDictionaryKey(std::string_view key) const {
  auto it = info.find(key);
  if (it == info.end()) return std::nullopt;
  return it->second;
}

bool FakeApplication::canOpenURL(const formats::Url& url) const {
  askedUrls.push_back(url.text);
  return std::find(schemes.begin(), schemes.end(), url.scheme) != schemes.end();
}

std::optional<double> FakeCalendar::startOfWeek(double instant) const {
  if (weekless) return std::nullopt;
  constexpr double kDay = 86400;
  double localDay = std::floor((instant + static_cast<double>(gmtOffset)) / kDay);
  // 1970-01-01 was a Thursday, weekday 5 when Sunday is 1.
  int weekday = static_cast<int>(std::fmod(std::fmod(localDay + 4, 7) + 7, 7)) + 1;
  double back = (weekday - weekStart + 7) % 7;
  return (localDay - back) * kDay - static_cast<double>(gmtOffset);
}

void InMemoryPlatform::advance(platform::Clock::Duration by) {
  mainLoop().runUntil(clock.now() + by);
}

void InMemoryPlatform::postLifecycle(std::string_view name) {
  notifications.post({std::string(name), &fakeApplication, std::nullopt});
}

}  // namespace quorin::testing
