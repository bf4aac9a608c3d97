#include <future>
#include <iostream>

#include "host.hpp"
#include "keychain/keychain.hpp"
#include "stdin_value.hpp"

namespace quorin::cli {
namespace {

using keychain::Keychain;

std::string describe(const Keychain::SharedCredentialError& error) {
  if (const auto* status = std::get_if<keychain::Status>(&error))
    return std::string(keychain::description(*status));
  return std::get<platform::Error>(error).localizedDescription();
}

bool isNotFound(const Keychain::SharedCredentialError& error) {
  const auto* report = std::get_if<platform::Error>(&error);
  return report && report->code == platform::errSecItemNotFound;
}

int get(const Keychain& keychain, const SharedCredentialRequest& request, bool json) {
  using Found = std::pair<std::optional<std::string>, std::optional<std::string>>;
  std::promise<std::pair<Found, std::optional<Keychain::SharedCredentialError>>> answer;
  auto done = [&](auto account, auto password, auto error) {
    answer.set_value({{std::move(account), std::move(password)}, std::move(error)});
  };
  if (request.account) {
    keychain.getSharedPassword(*request.account, [&, account = request.account](auto p, auto e) {
      done(account, std::move(p), std::move(e));
    });
  } else {
    keychain.getSharedPassword(done);
  }
  auto [found, error] = answer.get_future().get();
  if (error && !isNotFound(*error)) {
    std::cerr << "quorin: " << describe(*error) << "\n";
    return 2;
  }
  if (!found.second) {
    std::cerr << "quorin: no shared password for " << request.server << "\n";
    return 1;
  }
  if (json) {
    auto orNull = [](const auto& text) { return text ? formats::Value(*text) : formats::Value(); };
    printJson(formats::Dictionary{{"account", orNull(found.first)}, {"password", *found.second}});
  } else {
    std::cout << found.first.value_or("") << "\t" << *found.second << "\n";
  }
  return 0;
}

int write(const Keychain& keychain, const SharedCredentialRequest& request, bool json) {
  std::promise<std::optional<Keychain::SharedCredentialError>> answer;
  auto done = [&](auto error) { answer.set_value(std::move(error)); };
  if (request.action == "set") {
    auto password = valueFromArgument(request.password);
    if (!password) return 2;
    keychain.setSharedPassword(*password, *request.account, done);
  } else {
    keychain.removeSharedPassword(*request.account, done);
  }
  auto error = answer.get_future().get();
  if (error) {
    std::cerr << "quorin: " << describe(*error) << "\n";
    return isNotFound(*error) ? 1 : 2;
  }
  if (json) printJson(formats::Dictionary{{"ok", true}});
  return 0;
}

}  // namespace

int runSharedCredential(const GlobalOptions& options, const SharedCredentialRequest& request) {
  Host host(options, Facade::none);
  try {
    auto keychain =
        Keychain::withServer(host.platform, request.server, keychain::ProtocolType::https);
    if (!keychain->server().host) {
      std::cerr << "quorin: --server '" << request.server
                << "' names no host: give a URL such as https://example.com\n";
      return 2;
    }
    if (request.action == "get") return get(*keychain, request, options.json);
    return write(*keychain, request, options.json);
  } catch (const std::exception& error) {
    std::cerr << "quorin: " << error.what() << "\n";
    return 2;
  }
}

}  // namespace quorin::cli
