// A small C++ host: the facade on the default device, a keychain and a cloud round trip, and a
// call by selector text.
#include <iostream>
#include <optional>
#include <string>

#include <quorin/quorin_client.hpp>

int main() {
  QRNQuorinClient client;  // sets itself up on the default device
  std::cout << "deviceModel " << client.deviceModel() << "\n"
            << "storeCountry " << client.storeCountry().value_or("(nil)") << "\n";

  client.setStringValueInKeychain("secret", "cpp-host-token");
  bool kept = client.getStringValueInKeychainForKey("cpp-host-token") == "secret";
  client.removeValueInKeychainForKey("cpp-host-token");

  std::optional<std::string> fetched;
  client.setOnCloudStoreValueFetched(
      [&](const std::string&, const std::optional<std::string>& value) { fetched = value; });
  client.setValueToCloudStore("hello", "cpp-host-greeting");
  client.fetchValueFromCloudStoreForKey("cpp-host-greeting");  // present: answered at once

  QRNPerformResult result = client.perform("osVersion");
  if (!result.ok()) std::cerr << result.message << "\n";

  client.dispose();
  bool ok = kept && fetched == "hello" && result.ok();
  std::cout << (ok ? "ok" : "failed") << "\n";
  return ok ? 0 : 1;
}
