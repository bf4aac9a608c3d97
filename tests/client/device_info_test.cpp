#include <gtest/gtest.h>

#include "client/quorin_client.hpp"
#include "support/in_memory_platform.hpp"

namespace quorin {
namespace {

using platform::TrackingAuthorizationStatus;

class DeviceInfoTest : public ::testing::Test {
 protected:
  std::shared_ptr<testing::InMemoryPlatform> platform =
      std::make_shared<testing::InMemoryPlatform>();
  std::shared_ptr<QuorinClient> client = std::make_shared<QuorinClient>(platform);
  testing::FakeDevice& device = platform->fakeDevice;
  testing::FakeProcessInfo& process = platform->fakeProcessInfo;
};

TEST_F(DeviceInfoTest, DeviceModelIsTheMachineNameWithSimulatorAndMacRules) {
  device.setMachine("iPhone15,2");
  EXPECT_EQ(client->deviceModel(), "iPhone15,2");

  process.onMac = true;
  EXPECT_EQ(client->deviceModel(), "MAC_iPhone15,2");
  process.osVersion = {13, 7, 0};
  EXPECT_EQ(client->deviceModel(), "iPhone15,2") << "no prefix before 14.0";
  process.osVersion = {14, 0, 0};

  device.setMachine("arm64");  // a simulator on an Apple-silicon Mac is not recognised
  EXPECT_EQ(client->deviceModel(), "MAC_arm64");

  process.variables["SIMULATOR_MODEL_IDENTIFIER"] = "iPhone14,7";
  for (auto simulator : {"x86_64", "i386"}) {
    device.setMachine(simulator);
    EXPECT_EQ(client->deviceModel(), "iPhone14,7");
  }
  process.variables.clear();
  EXPECT_EQ(client->deviceModel(), "Undefined simulator");
  device.setMachine("X86_64");
  EXPECT_EQ(client->deviceModel(), "MAC_X86_64");
}

TEST_F(DeviceInfoTest, DeviceModelSkipsZeroBytesAnywhereInTheField) {
  device.system.machine.fill(0);
  device.system.machine[0] = 'i';
  device.system.machine[1] = '3';
  device.system.machine[100] = '8';
  device.system.machine[200] = '6';
  EXPECT_EQ(client->deviceModel(), "Undefined simulator") << "reads \"i386\" across the gaps";
  device.system.machine.fill('a');
  EXPECT_EQ(client->deviceModel(), std::string(256, 'a'));
  device.setMachine("x\xE9");
  EXPECT_EQ(client->deviceModel(), "x\xC3\xA9");
}

TEST_F(DeviceInfoTest, PlainFacts) {
  device.version = "17.4.1";
  EXPECT_EQ(client->osVersion(), "17.4.1");
  EXPECT_EQ(client->buildNumber(), "");
  platform->fakeBundle.info["CFBundleVersion"] = formats::Value(42);
  EXPECT_EQ(client->buildNumber(), "") << "a number is not a build number";
  platform->fakeBundle.info["CFBundleVersion"] = formats::Value("1207");
  EXPECT_EQ(client->buildNumber(), "1207");
  for (auto idiom : {platform::UserInterfaceIdiom::phone, platform::UserInterfaceIdiom::mac,
                     platform::UserInterfaceIdiom::unspecified}) {
    device.idiom = idiom;
    EXPECT_FALSE(client->isTablet());
  }
  device.idiom = platform::UserInterfaceIdiom::pad;
  EXPECT_TRUE(client->isTablet());
}

TEST_F(DeviceInfoTest, LanguageWithRegion) {
  auto& locale = platform->fakeLocale;
  EXPECT_EQ(client->languageWithRegion(), "en-US");
  locale.region = "DE";
  EXPECT_EQ(client->languageWithRegion(), "en-DE");
  locale.languages = {"zh-Hans", "en"};
  EXPECT_EQ(client->languageWithRegion(), "zh-Hans") << "a script subtag counts as a hyphen";
  locale.languages = {"en"};
  EXPECT_EQ(client->languageWithRegion(), "en-DE");
  locale.region.reset();
  EXPECT_EQ(client->languageWithRegion(), "en-US");
  locale.languages = {"pt-BR"};
  EXPECT_EQ(client->languageWithRegion(), "pt-BR");
}

TEST_F(DeviceInfoTest, IdfaNeedsAuthorisationFrom14AndTheOptOutFlagBefore) {
  auto& ads = platform->fakeAdSupport;
  ads.identifier = *formats::Uuid::fromString("6D92078A-8246-4BA4-AE5B-76104861E7DC");
  ads.trackingEnabled = true;
  for (auto status :
       {TrackingAuthorizationStatus::notDetermined, TrackingAuthorizationStatus::restricted,
        TrackingAuthorizationStatus::denied}) {
    ads.status = status;
    EXPECT_EQ(client->idfa(), std::nullopt);
  }
  ads.status = TrackingAuthorizationStatus::authorized;
  EXPECT_EQ(client->idfa(), "6D92078A-8246-4BA4-AE5B-76104861E7DC");
  ads.identifier = {};
  EXPECT_EQ(client->idfa(), "00000000-0000-0000-0000-000000000000");

  process.osVersion = {13, 0, 0};
  ads.status = TrackingAuthorizationStatus::denied;
  EXPECT_EQ(client->idfa(), "00000000-0000-0000-0000-000000000000");
  ads.trackingEnabled = false;
  ads.status = TrackingAuthorizationStatus::authorized;
  EXPECT_EQ(client->idfa(), std::nullopt);
}

TEST_F(DeviceInfoTest, EncodedDeviceIdentifierHoldsTheBytesOfIdfv) {
  EXPECT_EQ(client->idfv(), std::nullopt);
  EXPECT_EQ(client->encodedDeviceIdentifier(), std::string(22, 'A') + "==");

  device.vendor = formats::Uuid::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  EXPECT_EQ(client->idfv(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  // base64 of e6 21 e1 f8 c3 6c 49 5a 93 fc 0c 24 7a 3e 6e 5f
  EXPECT_EQ(client->encodedDeviceIdentifier(), "5iHh+MNsSVqT/Awkej5uXw==");
}

TEST_F(DeviceInfoTest, ApplicationInstalledPassesTheTextUnchanged) {
  platform->fakeApplication.schemes = {"fb"};
  EXPECT_TRUE(client->isApplicationInstalled("fb://"));
  EXPECT_FALSE(client->isApplicationInstalled("fb")) << "no scheme separator is added";
  EXPECT_FALSE(client->isApplicationInstalled("not a url"));
  EXPECT_FALSE(client->isApplicationInstalled(""));
  EXPECT_EQ(platform->fakeApplication.askedUrls, (std::vector<std::string>{"fb://", "fb"}));
}

}  // namespace
}  // namespace quorin
