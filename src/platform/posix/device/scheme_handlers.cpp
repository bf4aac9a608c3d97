#include "platform/posix/device/scheme_handlers.hpp"

#include "platform/posix/files/file_io.hpp"

namespace quorin::platform::posix {
namespace {

constexpr std::size_t kMaxFileBytes = 4 << 20;

std::string_view trim(std::string_view text) {
  auto begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

bool listContains(std::string_view list, std::string_view item) {
  while (!list.empty()) {
    auto semicolon = list.find(';');
    if (trim(list.substr(0, semicolon)) == item) return true;
    list = semicolon == std::string_view::npos ? std::string_view{} : list.substr(semicolon + 1);
  }
  return false;
}

// Calls `visit(section, key, value)` for every key=value line of an ini-style file.
template <typename Visit>
void forEachEntry(std::string_view text, Visit visit) {
  std::string_view section;
  while (!text.empty()) {
    auto newline = text.find('\n');
    auto line = trim(text.substr(0, newline));
    text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    auto equals = line.find('=');
    if (equals != std::string_view::npos)
      visit(section, trim(line.substr(0, equals)), trim(line.substr(equals + 1)));
  }
}

std::vector<std::filesystem::path> splitPaths(std::string_view list, std::string_view fallback) {
  if (list.empty()) list = fallback;
  std::vector<std::filesystem::path> paths;
  while (!list.empty()) {
    auto colon = list.find(':');
    auto item = list.substr(0, colon);
    if (!item.empty() && item.front() == '/') paths.emplace_back(item);
    list = colon == std::string_view::npos ? std::string_view{} : list.substr(colon + 1);
  }
  return paths;
}

std::string get(const std::map<std::string, std::string>& environment, const std::string& key) {
  auto it = environment.find(key);
  return it == environment.end() ? std::string{} : it->second;
}

bool fileAt(const std::filesystem::path& path, AssociationFile kind, std::string_view mimeType) {
  auto text = readFile(path, kMaxFileBytes);
  return text && fileAssociates(*text, kind, mimeType);
}

}  // namespace

bool fileAssociates(std::string_view text, AssociationFile kind, std::string_view mimeType) {
  bool found = false;
  bool hidden = false;
  forEachEntry(text, [&](std::string_view section, std::string_view key, std::string_view value) {
    switch (kind) {
      case AssociationFile::mimeApps:
        found |= (section == "Default Applications" || section == "Added Associations") &&
                 key == mimeType && !trim(value).empty();
        break;
      case AssociationFile::mimeInfoCache:
        found |= section == "MIME Cache" && key == mimeType && !value.empty();
        break;
      case AssociationFile::desktopEntry:
        if (section != "Desktop Entry") break;
        if (key == "Hidden") hidden = value == "true";
        if (key == "MimeType") found |= listContains(value, mimeType);
        break;
    }
  });
  return found && !hidden;
}

XdgApplication::XdgApplication(const std::map<std::string, std::string>& environment) {
  std::string home = get(environment, "HOME");
  std::string configHome = get(environment, "XDG_CONFIG_HOME");
  if (configHome.empty() && !home.empty()) configHome = home + "/.config";
  std::string dataHome = get(environment, "XDG_DATA_HOME");
  if (dataHome.empty() && !home.empty()) dataHome = home + "/.local/share";

  auto configDirs = splitPaths(configHome, "");
  for (auto& dir : splitPaths(get(environment, "XDG_CONFIG_DIRS"), "/etc/xdg"))
    configDirs.push_back(dir);
  auto dataDirs = splitPaths(dataHome, "");
  for (auto& dir : splitPaths(get(environment, "XDG_DATA_DIRS"), "/usr/local/share:/usr/share"))
    dataDirs.push_back(dir);

  for (const auto& dir : configDirs) mimeAppsLists_.push_back(dir / "mimeapps.list");
  for (const auto& dir : dataDirs) {
    applicationDirectories_.push_back(dir / "applications");
    mimeAppsLists_.push_back(dir / "applications" / "mimeapps.list");
  }
}

bool XdgApplication::canOpenURL(const formats::Url& url) const {
  if (url.scheme.empty()) return false;
  std::string mimeType = "x-scheme-handler/" + url.scheme;
  for (const auto& list : mimeAppsLists_) {
    if (fileAt(list, AssociationFile::mimeApps, mimeType)) return true;
  }
  std::error_code error;
  for (const auto& dir : applicationDirectories_) {
    if (fileAt(dir / "mimeinfo.cache", AssociationFile::mimeInfoCache, mimeType)) return true;
    for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
         it.increment(error)) {
      if (it->path().extension() == ".desktop" &&
          fileAt(it->path(), AssociationFile::desktopEntry, mimeType))
        return true;
    }
  }
  return false;
}

}  // namespace quorin::platform::posix
