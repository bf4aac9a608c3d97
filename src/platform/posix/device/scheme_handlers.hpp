#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/application.hpp"

namespace quorin::platform::posix {

enum class AssociationFile { mimeApps, mimeInfoCache, desktopEntry };

// Whether the text of one XDG file associates an application with `mimeType`:
// mimeapps.list through [Default Applications] or [Added Associations], mimeinfo.cache
// through [MIME Cache], a .desktop file through the MimeType list of a visible entry.
bool fileAssociates(std::string_view text, AssociationFile kind, std::string_view mimeType);

// Answers canOpenURL from the x-scheme-handler/<scheme> associations found in the XDG
// configuration and data directories that `environment` names.
class XdgApplication final : public Application {
 public:
  explicit XdgApplication(const std::map<std::string, std::string>& environment);
  bool canOpenURL(const formats::Url& url) const override;

 private:
  std::vector<std::filesystem::path> mimeAppsLists_;
  std::vector<std::filesystem::path> applicationDirectories_;
};

}  // namespace quorin::platform::posix
