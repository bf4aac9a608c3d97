#include "platform/linux/linux_platform.hpp"

#include <gtest/gtest.h>

#include "client/quorin_client.hpp"
#include "formats/plist_codec.hpp"
#include "platform/posix/files/file_io.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

void writePlist(const std::filesystem::path& path, formats::Dictionary contents,
                formats::PlistFormat format) {
  std::filesystem::create_directories(path.parent_path());
  ASSERT_TRUE(writeFileAtomically(
      path, *formats::serializePlist(formats::Value(std::move(contents)), format), 0600));
}

// A container with a device profile and an application's Info.plist, read through a client.
class PosixContainerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writePlist(container / "device.plist",
               {{"SystemVersion", formats::Value("13.4")},
                {"UserInterfaceIdiom", formats::Value(1)},
                {"IdentifierForVendor", formats::Value("E621E1F8-C36C-495A-93FC-0C247A3E6E5F")},
                {"AdvertisingIdentifier", formats::Value("6D92078A-8246-4BA4-AE5B-76104861E7DC")},
                {"AdvertisingTrackingEnabled", formats::Value(true)},
                {"StorefrontCountryCode", formats::Value("CAN")}},
               formats::PlistFormat::binary);
    writePlist(root.path() / "App" / "Info.plist",
               {{"CFBundleVersion", formats::Value("311")},
                {"CFBundleIdentifier", formats::Value("com.example.app")}},
               formats::PlistFormat::xml);
    platform = std::make_shared<linux::LinuxPlatform>(
        linux::LinuxPlatformOptions{.container = container,
                                    .infoPlist = root.path() / "App" / "Info.plist",
                                    .cloudAccount = (root.path() / "cloud").string()});
    client = std::make_shared<QuorinClient>(platform);
    client->setup();
  }
  void TearDown() override {
    if (client) client->dispose();
  }

  testing::TemporaryDirectory root;
  std::filesystem::path container = root.path() / "device";
  std::shared_ptr<linux::LinuxPlatform> platform;
  std::shared_ptr<QuorinClient> client;
};

TEST_F(PosixContainerTest, TheSystemVersionComesFromTheProfile) {
  EXPECT_EQ(client->osVersion(), "13.4");
}

TEST_F(PosixContainerTest, TheIdiomComesFromTheProfile) {
  EXPECT_TRUE(client->isTablet());
}

TEST_F(PosixContainerTest, TheVendorIdentifierComesFromTheProfile) {
  EXPECT_EQ(client->idfv(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
}

TEST_F(PosixContainerTest, TheAdvertisingIdentifierFollowsTheOptOutFlag) {
  EXPECT_EQ(client->idfa(), "6D92078A-8246-4BA4-AE5B-76104861E7DC") << "13.4 uses the opt-out flag";
}

TEST_F(PosixContainerTest, TheBuildNumberComesFromTheInfoPlist) {
  EXPECT_EQ(client->buildNumber(), "311");
}

TEST_F(PosixContainerTest, TheBundleIdentifierComesFromTheInfoPlist) {
  EXPECT_EQ(platform->mainBundle().objectForInfoDictionaryKey("CFBundleIdentifier"),
            formats::Value("com.example.app"));
}

// The application's own suite is named after its bundle identifier.
TEST_F(PosixContainerTest, TheStandardSuiteIsTheBundleIdentifiers) {
  auto suite = container / "Library" / "Preferences" / "com.example.app.plist";
  writePlist(suite, {{"launches", formats::Value(3)}}, formats::PlistFormat::binary);
  platform->standardUserDefaults().removePersistentDomainForName("com.example.app");
  EXPECT_FALSE(std::filesystem::exists(suite));
}

TEST_F(PosixContainerTest, ASuiteNameCannotLeaveTheContainer) {
  EXPECT_FALSE(platform->makeUserDefaults("../escape"));
}

TEST_F(PosixContainerTest, TheStorefrontComesFromTheProfile) {
  EXPECT_EQ(client->storeCountry(), "CAN");
}

TEST_F(PosixContainerTest, AStorefrontChangeReachesTheClient) {
  platform->simulatedPaymentQueue().changeStorefront(Storefront{"MEX", "143468"});
  EXPECT_EQ(client->storeCountry(), "MEX");
}

TEST(LinuxPlatformTest, SystemVersionComparisons) {
  EXPECT_EQ(parseSystemVersion("17.2.1").minorVersion, 2);
  EXPECT_EQ(parseSystemVersion("17.2.1").patchVersion, 1);
  EXPECT_EQ(parseSystemVersion("14").majorVersion, 14);
  EXPECT_EQ(parseSystemVersion("junk").majorVersion, 0);
  DeviceProfile profile;
  ProfileProcessInfo info(profile);
  for (auto [version, atLeast14] :
       {std::pair{"14.0", true}, {"13.7.9", false}, {"14", true}, {"26.1", true}, {"", false}}) {
    profile.systemVersion = version;
    EXPECT_EQ(info.isOperatingSystemAtLeast({14, 0, 0}), atLeast14) << version;
  }
}

TEST(LinuxPlatformTest, MissingInfoPlistGivesAnEmptyBuildNumber) {
  testing::TemporaryDirectory root;
  auto platform = std::make_shared<linux::LinuxPlatform>(
      linux::LinuxPlatformOptions{.container = root.path(),
                                  .infoPlist = root.path() / "missing" / "Info.plist",
                                  .cloudAccount = (root.path() / "cloud").string()});
  EXPECT_EQ(QuorinClient(platform).buildNumber(), "");
}

}  // namespace
}  // namespace quorin::platform::posix
