#include <iostream>

#include "formats/json.hpp"
#include "host.hpp"

namespace quorin::cli {
namespace {

using formats::Value;

Value orNull(const std::optional<std::string>& text) {
  return text ? Value(*text) : Value();
}

formats::Dictionary facts(const std::filesystem::path& container, const QRNQuorinClient& client,
                          const std::vector<std::string>& schemes) {
  formats::Dictionary installed;
  for (const auto& scheme : schemes)
    installed[scheme] = client.isApplicationInstalledForScheme(scheme);
  return {
      {"container", container.string()},
      {"deviceModel", client.deviceModel()},
      {"osVersion", client.osVersion()},
      {"buildNumber", client.buildNumber()},
      {"isTablet", client.isTablet()},
      {"languageWithRegion", client.languageWithRegion()},
      {"idfa", orNull(client.idfa())},
      {"idfv", orNull(client.idfv())},
      {"encodedDeviceIdentifier", orNull(client.encodedDeviceIdentifier())},
      {"storeCountry", orNull(client.storeCountry())},
      {"isApplicationInstalled", std::move(installed)},
  };
}

std::string text(const Value& value) {
  if (const auto* s = value.get<std::string>()) return *s;
  if (const auto* b = value.get<bool>()) return *b ? "yes" : "no";
  return "(none)";
}

// The container, then the facade's order, not the key order of the JSON document.
constexpr std::string_view kOrder[] = {"container",   "deviceModel", "osVersion",
                                       "buildNumber", "isTablet",    "languageWithRegion",
                                       "idfa",        "idfv",        "encodedDeviceIdentifier",
                                       "storeCountry"};

}  // namespace

// The text form has the JSON document's keys, a nested one after a dot.
int runInfo(const GlobalOptions& options, const std::vector<std::string>& schemes) {
  Host host(options);
  auto all = facts(options.container, *host.client, schemes);
  if (options.json) {
    printJson(Value(all));
    return 0;
  }
  for (auto key : kOrder) std::cout << key << ": " << text(all[std::string(key)]) << "\n";
  for (const auto& [scheme, answer] : *all["isApplicationInstalled"].get<formats::Dictionary>())
    std::cout << "isApplicationInstalled." << scheme << ": " << text(answer) << "\n";
  return 0;
}

}  // namespace quorin::cli
