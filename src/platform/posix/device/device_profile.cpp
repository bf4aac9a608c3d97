#include "platform/posix/device/device_profile.hpp"

#include <random>

#include "formats/plist_codec.hpp"
#include "platform/posix/files/file_io.hpp"

namespace quorin::platform::posix {
namespace {

constexpr std::string_view kProfileFile = "device.plist";

template <typename T>
const T* member(const formats::Value& value, std::string_view key) {
  const formats::Value* found = value.find(key);
  return found ? found->get<T>() : nullptr;
}

std::optional<formats::Uuid> uuidMember(const formats::Value& value, std::string_view key) {
  const auto* text = member<std::string>(value, key);
  return text ? formats::Uuid::fromString(*text) : std::nullopt;
}

void readStorefront(const formats::Value& value, DeviceProfile& profile) {
  const auto* country = member<std::string>(value, "StorefrontCountryCode");
  if (!country) return;
  if (country->empty()) {
    profile.storefront.reset();
    return;
  }
  const auto* identifier = member<std::string>(value, "StorefrontIdentifier");
  profile.storefront = Storefront{*country, identifier ? *identifier : ""};
}

bool writeProfile(const std::filesystem::path& path, const formats::Value& profile,
                  WriteMode mode) {
  auto bytes = formats::serializePlist(profile, formats::PlistFormat::xml);
  return bytes && writeFileAtomically(path, *bytes, 0600, mode);
}

}  // namespace

formats::Uuid randomUuid() {
  static thread_local std::random_device source;
  formats::Uuid uuid;
  for (std::size_t i = 0; i < uuid.bytes.size(); i += 4) {
    auto word = source();
    for (std::size_t j = 0; j < 4; ++j)
      uuid.bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
  }
  uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0F) | 0x40);  // version 4
  uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return uuid;
}

DeviceProfile profileFromValue(const formats::Value& value) {
  DeviceProfile profile;
  if (const auto* version = member<std::string>(value, "SystemVersion"))
    profile.systemVersion = *version;
  if (const auto* idiom = member<std::int64_t>(value, "UserInterfaceIdiom"))
    profile.idiom = static_cast<UserInterfaceIdiom>(*idiom);
  profile.identifierForVendor = uuidMember(value, "IdentifierForVendor");
  if (auto ad = uuidMember(value, "AdvertisingIdentifier")) profile.advertisingIdentifier = *ad;
  if (const auto* status = member<std::int64_t>(value, "TrackingAuthorizationStatus"))
    profile.trackingAuthorizationStatus = static_cast<TrackingAuthorizationStatus>(*status);
  if (const auto* enabled = member<bool>(value, "AdvertisingTrackingEnabled"))
    profile.advertisingTrackingEnabled = *enabled;
  if (const auto* onMac = member<bool>(value, "iOSAppOnMac")) profile.iOSAppOnMac = *onMac;
  readStorefront(value, profile);
  return profile;
}

formats::Value profileToValue(const DeviceProfile& profile) {
  formats::Dictionary d;
  d["SystemVersion"] = profile.systemVersion;
  d["UserInterfaceIdiom"] = static_cast<std::int64_t>(profile.idiom);
  if (profile.identifierForVendor)
    d["IdentifierForVendor"] = profile.identifierForVendor->uuidString();
  d["AdvertisingIdentifier"] = profile.advertisingIdentifier.uuidString();
  d["TrackingAuthorizationStatus"] = static_cast<std::int64_t>(profile.trackingAuthorizationStatus);
  d["AdvertisingTrackingEnabled"] = profile.advertisingTrackingEnabled;
  d["iOSAppOnMac"] = profile.iOSAppOnMac;
  d["StorefrontCountryCode"] = profile.storefront ? profile.storefront->countryCode : "";
  d["StorefrontIdentifier"] = profile.storefront ? profile.storefront->identifier : "";
  return formats::Value(std::move(d));
}

LoadedProfile loadDeviceProfile(const std::filesystem::path& container) {
  auto path = container / kProfileFile;
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    DeviceProfile fresh;
    fresh.identifierForVendor = randomUuid();
    fresh.advertisingIdentifier = randomUuid();
    if (makeContainer(container, 0700) &&
        writeProfile(path, profileToValue(fresh), WriteMode::createOnly))
      return {fresh, std::nullopt};
    // Another process may have created it first; its identifiers are the ones to keep.
  }
  constexpr std::size_t kMaxProfileBytes = 1 << 20;
  auto bytes = readFile(path, kMaxProfileBytes);
  if (!bytes)
    return {DeviceProfile{},
            path.string() + " " + whyUnreadable(path, kMaxProfileBytes) + "; using defaults"};
  auto value = formats::parsePlist(*bytes);
  if (!value || !value->is<formats::Dictionary>())
    return {DeviceProfile{}, path.string() + " is not a property-list dictionary; using defaults"};
  LoadedProfile loaded{profileFromValue(*value), std::nullopt};
  if (!loaded.profile.identifierForVendor) {
    // Added to what is there, so entries this code does not know survive.
    loaded.profile.identifierForVendor = randomUuid();
    auto updated = *value;
    (*updated.get<formats::Dictionary>())["IdentifierForVendor"] =
        loaded.profile.identifierForVendor->uuidString();
    // One that is not kept would differ on every run: better none.
    if (!writeProfile(path, updated, WriteMode::replace)) {
      loaded.profile.identifierForVendor.reset();
      loaded.problem = "could not store a new vendor identifier in " + path.string();
    }
  }
  return loaded;
}

}  // namespace quorin::platform::posix
