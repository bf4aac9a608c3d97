#include "platform/posix/device/profile_services.hpp"

#include <sys/utsname.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <tuple>

extern char** environ;

namespace quorin::platform::posix {
namespace {

template <std::size_t N>
void copyField(std::array<char, N>& target, const char* source) {
  std::strncpy(target.data(), source, N - 1);
}

}  // namespace

OperatingSystemVersion parseSystemVersion(std::string_view text) {
  int parts[3] = {0, 0, 0};
  const char* cursor = text.data();
  const char* end = text.data() + text.size();
  for (int& part : parts) {
    auto [next, error] = std::from_chars(cursor, end, part);
    if (error != std::errc{}) break;
    cursor = next;
    if (cursor == end || *cursor != '.') break;
    ++cursor;
  }
  return {parts[0], parts[1], parts[2]};
}

void ProfileDevice::uname(Utsname& result) const {
  struct utsname system {};
  if (::uname(&system) != 0) return;
  copyField(result.sysname, system.sysname);
  copyField(result.nodename, system.nodename);
  copyField(result.release, system.release);
  copyField(result.version, system.version);
  copyField(result.machine, system.machine);
}

std::map<std::string, std::string> ProfileProcessInfo::environment() const {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; entry && *entry; ++entry) {
    std::string_view text(*entry);
    auto equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    variables.emplace(text.substr(0, equals), text.substr(equals + 1));
  }
  return variables;
}

bool ProfileProcessInfo::isOperatingSystemAtLeast(OperatingSystemVersion version) const {
  auto current = parseSystemVersion(profile_.systemVersion);
  return std::tie(current.majorVersion, current.minorVersion, current.patchVersion) >=
         std::tie(version.majorVersion, version.minorVersion, version.patchVersion);
}

}  // namespace quorin::platform::posix
