#include "client/quorin_client.hpp"
#include "formats/base64.hpp"

namespace quorin {
namespace {

constexpr platform::OperatingSystemVersion kIOS14{14, 0, 0};

// Every non-zero byte of the field, in order; zero bytes add nothing, also between others.
// Bytes from 128 up, which no machine name holds, are taken as Latin-1 so the text stays UTF-8.
std::string machineIdentifier(const std::array<char, 256>& field) {
  std::string identifier;
  for (char c : field) {
    auto byte = static_cast<unsigned char>(c);
    if (byte == 0) continue;
    if (byte < 0x80) {
      identifier.push_back(c);
    } else {
      identifier.push_back(static_cast<char>(0xC0 | byte >> 6));
      identifier.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return identifier;
}

}  // namespace

std::string QuorinClient::deviceModel() const {
  platform::Utsname system{};
  platform_->device().uname(system);
  std::string identifier = machineIdentifier(system.machine);
  auto& processInfo = platform_->processInfo();
  if (identifier == "x86_64" || identifier == "i386") {
    auto environment = processInfo.environment();
    auto simulated = environment.find("SIMULATOR_MODEL_IDENTIFIER");
    return simulated == environment.end() ? "Undefined simulator" : simulated->second;
  }
  if (processInfo.isOperatingSystemAtLeast(kIOS14) && processInfo.isiOSAppOnMac())
    return "MAC_" + identifier;
  return identifier;
}

std::string QuorinClient::osVersion() const {
  return platform_->device().systemVersion();
}

std::string QuorinClient::buildNumber() const {
  auto version = platform_->mainBundle().objectForInfoDictionaryKey(platform::kCFBundleVersionKey);
  const auto* text = version ? version->get<std::string>() : nullptr;
  return text ? *text : std::string();
}

bool QuorinClient::isTablet() const {
  return platform_->device().userInterfaceIdiom() == platform::UserInterfaceIdiom::pad;
}

std::string QuorinClient::languageWithRegion() const {
  auto& locale = platform_->locale();
  auto languages = locale.preferredLanguages();
  std::string language = languages.empty() ? "en" : languages.front();
  if (language.find('-') != std::string::npos) return language;
  return language + "-" + locale.regionCode().value_or("US");
}

std::optional<std::string> QuorinClient::idfa() const {
  auto& adSupport = platform_->adSupport();
  if (platform_->processInfo().isOperatingSystemAtLeast(kIOS14)) {
    if (adSupport.trackingAuthorizationStatus() !=
        platform::TrackingAuthorizationStatus::authorized)
      return std::nullopt;
  } else if (!adSupport.isAdvertisingTrackingEnabled()) {
    return std::nullopt;
  }
  return adSupport.advertisingIdentifier().uuidString();
}

std::optional<std::string> QuorinClient::idfv() const {
  auto vendor = platform_->device().identifierForVendor();
  if (!vendor) return std::nullopt;
  return vendor->uuidString();
}

std::optional<std::string> QuorinClient::encodedDeviceIdentifier() const {
  auto vendor = platform_->device().identifierForVendor().value_or(formats::Uuid{});
  return formats::base64Encode(vendor.bytes);
}

bool QuorinClient::isApplicationInstalled(const std::string& scheme) const {
  auto url = formats::Url::fromString(scheme);
  return url && platform_->application().canOpenURL(*url);
}

}  // namespace quorin
