#include "platform/posix/device/device_profile.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <thread>
#include <vector>

#include "formats/plist_codec.hpp"
#include "platform/posix/files/file_io.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

TEST(DeviceProfileTest, FirstLoadCreatesTheProfileAndLaterLoadsKeepItsIdentifiers) {
  testing::TemporaryDirectory root;
  auto container = root.path() / "container";
  auto first = loadDeviceProfile(container);
  EXPECT_EQ(first.problem, std::nullopt);
  ASSERT_TRUE(first.profile.identifierForVendor);
  EXPECT_NE(*first.profile.identifierForVendor, formats::Uuid{});
  EXPECT_EQ(first.profile.identifierForVendor->uuidString()[14], '4');

  struct stat info {};
  ASSERT_EQ(::stat((container / "device.plist").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  auto second = loadDeviceProfile(container);
  EXPECT_EQ(second.profile.identifierForVendor, first.profile.identifierForVendor);
  EXPECT_EQ(second.profile.advertisingIdentifier, first.profile.advertisingIdentifier);
}

TEST(DeviceProfileTest, ConcurrentFirstLoadsAgreeOnOneVendorIdentifier) {
  testing::TemporaryDirectory root;
  std::vector<std::optional<formats::Uuid>> seen(8);
  std::vector<std::thread> loaders;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    loaders.emplace_back(
        [&, i] { seen[i] = loadDeviceProfile(root.path()).profile.identifierForVendor; });
  }
  for (auto& loader : loaders) loader.join();
  for (const auto& id : seen) EXPECT_EQ(id, seen.front());
}

TEST(DeviceProfileTest, ReadsTheFactsItNamesAndDefaultsTheRest) {
  auto profile = profileFromValue(formats::Value(formats::Dictionary{
      {"SystemVersion", formats::Value("13.7")},
      {"UserInterfaceIdiom", formats::Value(1)},
      {"TrackingAuthorizationStatus", formats::Value(3)},
      {"iOSAppOnMac", formats::Value("yes")},  // wrong type: default kept
      {"StorefrontCountryCode", formats::Value("FRA")},
  }));
  EXPECT_EQ(profile.systemVersion, "13.7");
  EXPECT_EQ(profile.idiom, UserInterfaceIdiom::pad);
  EXPECT_EQ(profile.trackingAuthorizationStatus, TrackingAuthorizationStatus::authorized);
  EXPECT_FALSE(profile.iOSAppOnMac);
  EXPECT_EQ(profile.storefront, (Storefront{"FRA", ""}));
  EXPECT_EQ(profileFromValue(
                formats::Value(formats::Dictionary{{"StorefrontCountryCode", formats::Value("")}}))
                .storefront,
            std::nullopt);
  EXPECT_EQ(profileFromValue(formats::Value(formats::Dictionary{})).storefront,
            (Storefront{"USA", "143441"}));
}

TEST(DeviceProfileTest, MissingVendorIdentifierIsAddedAndOtherEntriesSurvive) {
  testing::TemporaryDirectory container;
  auto path = container.path() / "device.plist";
  formats::Value edited(formats::Dictionary{{"SystemVersion", formats::Value("16.1")},
                                            {"Note", formats::Value("mine")}});
  ASSERT_TRUE(writeFileAtomically(
      path, *formats::serializePlist(edited, formats::PlistFormat::binary), 0600));

  auto loaded = loadDeviceProfile(container.path());
  EXPECT_EQ(loaded.problem, std::nullopt);
  EXPECT_EQ(loaded.profile.systemVersion, "16.1");
  ASSERT_TRUE(loaded.profile.identifierForVendor);
  auto stored = formats::parsePlist(*readFile(path));
  EXPECT_EQ(*stored->find("Note"), formats::Value("mine"));
  EXPECT_EQ(*stored->find("IdentifierForVendor"),
            formats::Value(loaded.profile.identifierForVendor->uuidString()));
}

TEST(DeviceProfileTest, AProfileThatCannotKeepAVendorIdentifierHasNone) {
  testing::TemporaryDirectory container;
  auto path = container.path() / "device.plist";
  std::ofstream(path) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">"
                         "<dict><key>Note</key><string>caf\xe9</string></dict></plist>";
  auto before = readFile(path);
  for (int run = 0; run < 2; ++run) {
    auto loaded = loadDeviceProfile(container.path());
    ASSERT_TRUE(loaded.problem);
    EXPECT_NE(loaded.problem->find("could not store"), std::string::npos) << *loaded.problem;
    EXPECT_EQ(loaded.profile.identifierForVendor, std::nullopt) << "not a new one each run";
  }
  EXPECT_EQ(readFile(path), before);
}

TEST(DeviceProfileTest, DamagedProfileIsReportedAndLeftUntouched) {
  testing::TemporaryDirectory container;
  auto path = container.path() / "device.plist";
  std::ofstream(path) << "<plist><dict><key>broken";
  auto before = readFile(path);
  auto loaded = loadDeviceProfile(container.path());
  ASSERT_TRUE(loaded.problem);
  EXPECT_EQ(loaded.profile.identifierForVendor, std::nullopt);
  EXPECT_EQ(readFile(path), before);
}

}  // namespace
}  // namespace quorin::platform::posix
