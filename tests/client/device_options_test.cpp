#include <gtest/gtest.h>

#include <fstream>

#include "platform/platform.hpp"
#include "quorin/quorin_client.hpp"
#include "support/temporary_directory.hpp"

namespace quorin {
namespace {

class DeviceOptionsTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::setDefaultPlatform(nullptr); }

  QRNDeviceOptions optionsFor(const std::string& name) const {
    return {.container = (root.path() / name).string(),
            .cloudAccount = (root.path() / "cloud").string(),
            .keyStore = "key-file"};
  }

  testing::TemporaryDirectory root;
};

TEST_F(DeviceOptionsTest, FacadesMadeAfterwardsReadTheNamedInfoPlistAndKeyStore) {
  auto plist = root.path() / "Info.plist";
  std::ofstream(plist) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                          "<dict><key>CFBundleVersion</key><string>417</string></dict></plist>\n";
  auto options = optionsFor("device");
  options.infoPlist = plist.string();
  ASSERT_EQ(QRNQuorinClient::useDevice(options), QRNDeviceStatus::ok);

  QRNQuorinClient facade;
  EXPECT_EQ(facade.buildNumber(), "417");
  facade.setStringValueInKeychain("sealed", "token");
  EXPECT_EQ(facade.getStringValueInKeychainForKey("token"), "sealed");
  EXPECT_TRUE(std::filesystem::exists(root.path() / "device/Library/Keychains/keychain.key"));
  facade.dispose();
}

// One rule for a container, with or without a trailing slash, and for an account directory,
// which is made at first use where its parent exists.
TEST_F(DeviceOptionsTest, ATrailingSlashNamesTheSameDirectory) {
  auto options = optionsFor("device/");
  options.cloudAccount = (root.path() / "fresh" / "").string();
  ASSERT_EQ(QRNQuorinClient::useDevice(options), QRNDeviceStatus::ok);
  EXPECT_TRUE(std::filesystem::is_directory(root.path() / "device"));
  QRNQuorinClient facade;
  facade.setValueToCloudStore("v", "k");
  facade.dispose();
  EXPECT_TRUE(std::filesystem::exists(root.path() / "fresh" / "cloud.db"));
}

TEST_F(DeviceOptionsTest, RefusedOptionsChangeNothingAndMakeNothing) {
  ASSERT_EQ(QRNQuorinClient::useDevice(optionsFor("device")), QRNDeviceStatus::ok);
  auto chosen = platform::defaultPlatform();

  auto relative = optionsFor("device");
  relative.container = "quorin-relative-device";
  EXPECT_EQ(QRNQuorinClient::useDevice(relative), QRNDeviceStatus::relativeContainer);
  relative.container = "";
  EXPECT_EQ(QRNQuorinClient::useDevice(relative), QRNDeviceStatus::relativeContainer);
  auto unknownStore = optionsFor("other");
  unknownStore.keyStore = "vault";
  EXPECT_EQ(QRNQuorinClient::useDevice(unknownStore), QRNDeviceStatus::invalidOptions);
  auto storeAndKey = optionsFor("other");
  storeAndKey.keychainKey = std::array<std::uint8_t, 32>{};
  EXPECT_EQ(QRNQuorinClient::useDevice(storeAndKey), QRNDeviceStatus::invalidOptions);
  auto noAccount = optionsFor("other");
  noAccount.cloudAccount = "";
  EXPECT_EQ(QRNQuorinClient::useDevice(noAccount), QRNDeviceStatus::invalidOptions);

  auto unknownScheme = optionsFor("other");
  unknownScheme.cloudAccount = "ftp://example.com/account";
  EXPECT_EQ(QRNQuorinClient::useDevice(unknownScheme), QRNDeviceStatus::invalidOptions);
  auto mistyped = optionsFor("missing/deep/device");
  EXPECT_EQ(QRNQuorinClient::useDevice(mistyped), QRNDeviceStatus::unusableContainer);

  // One option changed on a fresh device's options.
  auto statusWith = [&](auto change) {
    auto options = optionsFor("other");
    change(options);
    return QRNQuorinClient::useDevice(options);
  };
  // A relative path would be read against whatever the working directory is at first use.
  for (const char* account : {"cloud", "rediss://localhost:6380/0?account=a&ca=ca.pem",
                              "rediss://localhost:6380/0?account=a&ca=/ca.pem&cert=c&key=/k"})
    EXPECT_EQ(statusWith([&](auto& options) { options.cloudAccount = account; }),
              QRNDeviceStatus::invalidOptions)
        << account;
  EXPECT_EQ(statusWith([](auto& options) { options.infoPlist = "Info.plist"; }),
            QRNDeviceStatus::invalidOptions);

  auto file = root.path() / "plain-file";
  std::ofstream(file) << "not a directory";
  for (const auto& account : {root.path() / "missing" / "deep" / "account", file})
    EXPECT_EQ(statusWith([&](auto& options) { options.cloudAccount = account.string(); }),
              QRNDeviceStatus::unusableCloudAccount)
        << account;

  EXPECT_EQ(platform::defaultPlatform(), chosen);
  EXPECT_FALSE(std::filesystem::exists(root.path() / "missing"));
  EXPECT_FALSE(std::filesystem::exists("quorin-relative-device"));
  EXPECT_FALSE(std::filesystem::exists(root.path() / "other"));
}

}  // namespace
}  // namespace quorin
