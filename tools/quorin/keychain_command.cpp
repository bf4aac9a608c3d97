#include <iostream>

#include "host.hpp"
#include "keychain/keychain.hpp"
#include "stdin_value.hpp"

namespace quorin::cli {
namespace {

using formats::Value;

int get(const keychain::Keychain& keychain, const KeychainRequest& request, bool json) {
  return printLookup(request.key, keychain.getString(request.key), json, keychain.service());
}

const std::string* textAt(const formats::Dictionary& item, const char* name) {
  auto it = item.find(name);
  return it == item.end() ? nullptr : it->second.get<std::string>();
}

// An item listed without its value is one whose value no longer opens: the rest are listed,
// and each such item is named.
int reportDamaged(const std::vector<keychain::Keychain::ItemSummary>& damaged) {
  for (const auto& item : damaged) {
    const auto* key = textAt(item, "key");
    std::cerr << "quorin: keychain item " << (key ? "\"" + *key + "\"" : "without a key")
              << " is damaged: its value does not open\n";
  }
  return damaged.empty() ? 0 : 2;
}

// The listing's "true" and "false" as the boolean they stand for.
void makeFlagBoolean(formats::Dictionary& item) {
  if (const auto* flag = textAt(item, "synchronizable")) item["synchronizable"] = *flag == "true";
}

int list(const keychain::Keychain& keychain, bool json) {
  std::vector<keychain::Keychain::ItemSummary> items, damaged;
  for (auto& item : keychain.items())
    (item.count("value") ? items : damaged).push_back(std::move(item));
  if (json) {
    formats::Array all;
    for (auto& item : items) {
      makeFlagBoolean(item);
      all.emplace_back(std::move(item));
    }
    printJson(Value(std::move(all)));
    return reportDamaged(damaged);
  }
  for (const auto& item : items) {
    auto text = [&](const char* name) {
      const auto* found = textAt(item, name);
      return found ? *found : std::string("(not text)");
    };
    std::cout << text("key") << "\t" << text("value") << "\n";
  }
  return reportDamaged(damaged);
}

int run(const keychain::Keychain& keychain, const KeychainRequest& request, bool json) {
  if (request.action == "get") return get(keychain, request, json);
  if (request.action == "list") return list(keychain, json);
  if (request.action == "set") {
    auto value = valueFromArgument(request.value);
    if (!value) return 2;
    keychain.set(*value, request.key);
  }
  if (request.action == "remove") keychain.remove(request.key);
  if (request.action == "clear") keychain.removeAll();
  if (json) printJson(formats::Dictionary{{"ok", true}});
  return 0;
}

int status(platform::posix::SqliteKeychain& store, bool json) {
  auto state = store.keyState();
  if (!state) {
    std::cerr << "quorin: keychain unusable: "
              << store.problem().value_or("its sealing key cannot be read") << "\n";
    return 2;
  }
  if (json) {
    printJson(formats::Dictionary{
        {"store", state->store}, {"keyId", state->keyId}, {"items", state->items}});
  } else {
    std::cout << "store: " << state->store << "\nkeyId: " << state->keyId
              << "\nitems: " << state->items << "\n";
  }
  return 0;
}

int rotateKey(platform::posix::SqliteKeychain& store, bool json) {
  platform::OSStatus code = store.rotateKey();
  if (code != platform::errSecSuccess) {
    std::string why = code == platform::errSecUnimplemented ? "its store cannot make a new key"
                      : code == platform::errSecDecode      ? "a value does not open under it"
                                                            : "result code " + std::to_string(code);
    std::cerr << "quorin: the keychain key was not changed: " << why << "\n";
    return 2;
  }
  return status(store, json);
}

}  // namespace

int runKeychain(const GlobalOptions& options, const KeychainRequest& request) {
  Host host(options, Facade::none);
  if (request.action == "generate-password") {
    auto password = keychain::Keychain::generatePassword(*host.platform);
    if (options.json)
      printJson(formats::Dictionary{{"password", password}});
    else
      std::cout << password << "\n";
    return 0;
  }
  if (auto problem = host.platform->keychain().problem()) {
    std::cerr << "quorin: keychain unusable: " << *problem << "\n";
    return 2;
  }
  if (request.action == "status") return status(host.platform->keychain(), options.json);
  if (request.action == "rotate-key") return rotateKey(host.platform->keychain(), options.json);
  auto keychain = keychain::Keychain::withService(host.platform, request.service);
  try {
    return run(*keychain, request, options.json);
  } catch (const std::exception& error) {
    std::cerr << "quorin: " << error.what() << "\n";
    return 2;
  }
}

}  // namespace quorin::cli
