#include "platform/posix/device/scheme_handlers.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

void write(const std::filesystem::path& path, std::string_view text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

TEST(SchemeAssociationTest, ReadsEachKindOfFile) {
  constexpr auto kMime = "x-scheme-handler/fb";
  EXPECT_TRUE(fileAssociates("[Default Applications]\nx-scheme-handler/fb=fb.desktop\n",
                             AssociationFile::mimeApps, kMime));
  EXPECT_TRUE(fileAssociates("[Added Associations]\r\n x-scheme-handler/fb = a.desktop;b;\r\n",
                             AssociationFile::mimeApps, kMime));
  EXPECT_FALSE(fileAssociates("[Removed Associations]\nx-scheme-handler/fb=fb.desktop\n",
                              AssociationFile::mimeApps, kMime));
  EXPECT_FALSE(fileAssociates("[Default Applications]\nx-scheme-handler/fb=\n",
                              AssociationFile::mimeApps, kMime));
  EXPECT_FALSE(fileAssociates("[Default Applications]\nx-scheme-handler/fbx=a.desktop\n",
                              AssociationFile::mimeApps, kMime));
  EXPECT_TRUE(fileAssociates("[MIME Cache]\nx-scheme-handler/fb=fb.desktop;\n",
                             AssociationFile::mimeInfoCache, kMime));
  EXPECT_TRUE(fileAssociates("[Desktop Entry]\nName=F\nMimeType=text/plain;x-scheme-handler/fb;\n",
                             AssociationFile::desktopEntry, kMime));
  EXPECT_FALSE(fileAssociates("[Desktop Entry]\nMimeType=x-scheme-handler/fb;\nHidden=true\n",
                              AssociationFile::desktopEntry, kMime));
  EXPECT_FALSE(fileAssociates("[Desktop Action x]\nMimeType=x-scheme-handler/fb;\n",
                              AssociationFile::desktopEntry, kMime));
  EXPECT_FALSE(fileAssociates("", AssociationFile::mimeApps, kMime));
}

TEST(XdgApplicationTest, AnswersFromConfigAndDataDirectories) {
  testing::TemporaryDirectory home;
  auto config = home.path() / "config";
  auto data = home.path() / "data";
  write(config / "mimeapps.list", "[Default Applications]\nx-scheme-handler/slack=slack.desktop\n");
  write(data / "applications" / "zoom.desktop",
        "[Desktop Entry]\nType=Application\nMimeType=x-scheme-handler/zoommtg;\n");
  write(data / "applications" / "mimeinfo.cache",
        "[MIME Cache]\nx-scheme-handler/tg=tg.desktop;\n");

  XdgApplication application({{"XDG_CONFIG_HOME", config.string()},
                              {"XDG_CONFIG_DIRS", (home.path() / "none").string()},
                              {"XDG_DATA_HOME", data.string()},
                              {"XDG_DATA_DIRS", (home.path() / "none").string()}});
  auto open = [&](std::string_view text) {
    return application.canOpenURL(*formats::Url::fromString(text));
  };
  EXPECT_TRUE(open("slack://open"));
  EXPECT_TRUE(open("SLACK:"));
  EXPECT_TRUE(open("zoommtg://join"));
  EXPECT_TRUE(open("tg://resolve"));
  EXPECT_FALSE(open("whatsapp://send"));
  EXPECT_FALSE(open("slack"));  // a bare name is a relative URL without a scheme
}

}  // namespace
}  // namespace quorin::platform::posix
