#include <iostream>

#include "host.hpp"
#include "keychain/keychain.hpp"

namespace quorin::cli {
namespace {

using platform::Value;

int get(const keychain::Keychain& keychain, const KeychainRequest& request, bool json) {
  return printLookup(request.key, keychain.getString(request.key), json, keychain.service());
}

int list(const keychain::Keychain& keychain, bool json) {
  auto items = keychain.allItems();
  if (json) {
    platform::Array all;
    for (auto& item : items) {
      if (item.count("value") && !item.at("value").is<std::string>()) item["value"] = Value();
      all.emplace_back(std::move(item));
    }
    printJson(Value(std::move(all)));
    return 0;
  }
  for (const auto& item : items) {
    auto text = [&](const char* name) {
      auto it = item.find(name);
      const auto* s = it == item.end() ? nullptr : it->second.get<std::string>();
      return s ? *s : std::string("(not text)");
    };
    std::cout << text("key") << "\t" << text("value") << "\n";
  }
  return 0;
}

int run(const keychain::Keychain& keychain, const KeychainRequest& request, bool json) {
  if (request.action == "get") return get(keychain, request, json);
  if (request.action == "list") return list(keychain, json);
  if (request.action == "set") keychain.set(request.value, request.key);
  if (request.action == "remove") keychain.remove(request.key);
  if (request.action == "clear") keychain.removeAll();
  if (json) printJson(platform::Dictionary{{"ok", true}});
  return 0;
}

}  // namespace

int runKeychain(const GlobalOptions& options, const KeychainRequest& request) {
  Host host(options);
  if (request.action == "generate-password") {
    auto password = keychain::Keychain::generatePassword(*host.platform);
    if (options.json)
      printJson(platform::Dictionary{{"password", password}});
    else
      std::cout << password << "\n";
    return 0;
  }
  if (auto problem = host.platform->keychain().problem()) {
    std::cerr << "quorin: keychain unusable: " << *problem << "\n";
    return 2;
  }
  auto keychain = keychain::Keychain::withService(host.platform, request.service);
  try {
    return run(*keychain, request, options.json);
  } catch (const std::exception& error) {
    std::cerr << "quorin: " << error.what() << "\n";
    return 2;
  }
}

}  // namespace quorin::cli
