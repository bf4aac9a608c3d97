#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "host.hpp"
#include "platform/linux/cloud_account_location.hpp"
#include "quorin/version.h"
#include "stdin_value.hpp"
#include "usage.hpp"

namespace {

// A wait in seconds: a finite number, not below zero.
std::string checkSeconds(const std::string& text) {
  char* end = nullptr;
  double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(seconds) || seconds < 0)
    return "a time-out is a finite number of seconds, 0 or more, not '" + text + "'";
  return {};
}

constexpr const char* kValueHelp =
    "The value, or - to read it from standard input: every byte as it is, a final newline "
    "included; it must be UTF-8 text";

// A cloud account that no backend takes is refused before anything is made for it.
std::string checkCloudAccount(const std::string& location) {
  return quorin::platform::linux::cloudAccountLocationProblem(location).value_or("");
}

// The library's version line, without its "@(#)" marker and line feed.
std::string libraryVersion() {
  std::string text(reinterpret_cast<const char*>(QuorinNativeVersionString));
  if (text.starts_with("@(#)")) text.erase(0, 4);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

std::string versionText() {
  std::ostringstream text;
  text << "quorin " QUORIN_CLI_VERSION "\nQuorinNative " << QuorinNativeVersionNumber << " ("
       << libraryVersion() << ")";
  return text.str();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quorin::cli;
  claimStandardDescriptors();
  CLI::App app{"quorin: a host for QuorinNative, running as one device (a container directory)",
               "quorin"};
  app.require_subcommand(1);
  app.fallthrough();  // global options may follow the command
  app.footer(kExitStatusHelp);
  app.set_version_flag("--version", versionText(), "Print the versions of quorin and the library");
  sayUsageErrorsPlainly(app);

  GlobalOptions options;
  std::string container = quorin::platform::linux::defaultContainerPath().string();
  std::string infoPlist;
  app.add_option("--container", container, "The device's container directory")
      ->capture_default_str();
  app.add_option("--info-plist", infoPlist, "The application's Info.plist (for buildNumber)");
  std::string cloudAccount = quorin::platform::linux::defaultCloudAccountPath().string();
  app.add_option("--cloud-account", cloudAccount,
                 "The cloud account that devices share: a directory, "
                 "redis://[user:password@]host:port/db?account=NAME, "
                 "rediss://[user:password@]host:port/db?account=NAME[&ca=FILE]"
                 "[&cert=FILE&key=FILE] (TLS) or unix:///path/to/socket?account=NAME")
      ->check(CLI::Validator(checkCloudAccount, "DIR|URL"))
      ->capture_default_str();
  app.add_flag("--json", options.json, "Print JSON instead of text");
  std::string keyStore;
  app.add_option("--key-store", keyStore,
                 "Where the keychain's sealing key is kept: secret-service or key-file "
                 "(default: the Secret Service when reachable, else the key file)")
      ->check(CLI::IsMember({"secret-service", "key-file"}));

  std::vector<std::string> schemes;
  auto* info = app.add_subcommand("info", "Print every device and environment fact");
  info->add_option("--scheme", schemes, "Also ask whether an app opens this URL (repeatable)");

  auto* events = app.add_subcommand(
      "events", "Run the main loop and print lifecycle events and storefront changes");
  events->footer(
      "Standard input plays the system: one event a line, posted on the main thread.\n"
      "  foreground | background | active | resign   a lifecycle notification\n"
      "  storefront CODE [ID] | storefront none      a storefront change report\n"
      "  quit                                        stop (so do end of input, SIGINT, SIGTERM)");

  KeychainRequest keychain{"", "com.vendexa.iossdk", "", ""};
  auto* keychainCommand = app.add_subcommand("keychain", "Read and write the device's keychain");
  keychainCommand->require_subcommand(1);
  keychainCommand->add_option("--service", keychain.service, "The keychain service")
      ->capture_default_str();
  auto action = [&](const char* name, const char* help) {
    auto* command = keychainCommand->add_subcommand(name, help);
    command->callback([&keychain, name] { keychain.action = name; });
    return command;
  };
  action("get", "Print the value of KEY (exit status 1 when there is none)")
      ->add_option("KEY", keychain.key, "The key")
      ->required();
  auto* set = action("set", "Store VALUE under KEY");
  set->add_option("KEY", keychain.key, "The key")->required();
  set->add_option("VALUE", keychain.value, kValueHelp)->required();
  action("remove", "Remove KEY (no error when it is missing)")
      ->add_option("KEY", keychain.key, "The key")
      ->required();
  action("clear", "Remove every item of the service");
  action("list", "Print every key and value of the service");
  action("generate-password", "Print a new password of the platform's shape (xxx-xxx-xxx-xxx)");
  action("status", "Print where the sealing key is kept, its identifier and the item count");
  action("rotate-key", "Seal every value under a new key from the same store");

  SharedCredentialRequest shared;
  auto* sharedCommand = action("shared", "Read and write the shared web credentials of a server");
  sharedCommand->require_subcommand(1);
  auto sharedAction = [&](const char* name, const char* help, bool needsAccount) {
    auto* command = sharedCommand->add_subcommand(name, help);
    command->callback([&shared, name] { shared.action = name; });
    command->add_option("--server", shared.server, "The web site, such as https://example.com")
        ->required();
    auto* account = command->add_option("--account", shared.account, "The account");
    if (needsAccount) account->required();
    return command;
  };
  sharedAction("get", "Print the account and password (exit status 1 when there is none)", false);
  sharedAction("set", "Keep PASSWORD for the account", true)
      ->add_option("PASSWORD", shared.password, kValueHelp)
      ->required();
  sharedAction("remove", "Delete the account's credential (exit status 1 when there is none)",
               true);

  CloudRequest cloud;
  auto* cloudCommand = app.add_subcommand(
      "cloud", "Read and write the cloud key-value store shared by the account's devices");
  cloudCommand->require_subcommand(1);
  auto cloudAction = [&](const char* name, const char* help) {
    auto* command = cloudCommand->add_subcommand(name, help);
    command->callback([&cloud, name] { cloud.action = name; });
    command->add_option("KEY", cloud.key, "The key")->required();
    return command;
  };
  cloudAction("get",
              "Print the value of KEY, waiting for another device to write it "
              "(exit status 1 when none came)")
      ->add_option("--timeout", cloud.timeoutSeconds,
                   "How long to wait, in seconds (0: answer from what the account holds now)")
      ->check(CLI::Validator(checkSeconds, "SECONDS"))
      ->capture_default_str();
  cloudAction("set",
              "Store VALUE under KEY and push it to the account; while the account is out of reach "
              "the write is kept on this device and pushed later")
      ->add_option("VALUE", cloud.value, kValueHelp)
      ->required();
  cloudAction("remove", "Remove KEY from the account (no error when it is missing)");
  cloudCommand
      ->add_subcommand("status",
                       "Show the account's backend, connection, pending writes and last sync "
                       "(exit status 2 when the account or the device's journal is unusable)")
      ->callback([&cloud] { cloud.action = "status"; });
  auto accountUser = [&](const char* name, const char* help) {
    auto* command = cloudCommand->add_subcommand(name, help);
    command->callback([&cloud, name] { cloud.action = name; });
    command->add_option("URL", cloud.value, "The server, with the credentials of its admin")
        ->required();
    command->add_option("NAME", cloud.key, "The account")->required();
  };
  accountUser("provision-account",
              "Load the accounts' functions unless the server has them in this version, then "
              "create the server's user for account NAME, limited to its keys, channel, the "
              "commands a device sends and those functions, or give it a new password; print "
              "the device's URL");
  accountUser("revoke-account",
              "Delete the server's user for account NAME and end its connections (exit status 1 "
              "when there is none)");

  MigrateRequest migration;
  auto* migrate = app.add_subcommand(
      "migrate",
      "Collect the legacy SDK's data into JSON files and print what was written (exit status 2 "
      "when a legacy file could not be read or an output could not be written)");
  migrate->add_flag("--clear", migration.clear,
                    "Then erase the legacy data and the collected files (keychain items stay); "
                    "only when everything was read and written");
  migrate->add_flag("--force", migration.force,
                    "With --clear: erase even what could not be read or written");

  auto* help = app.add_subcommand(
      "help", "Print the help of quorin, or of a command: quorin help keychain get");
  help->allow_extras();
  // Read before parsing, which would take the names for commands to run: "quorin help keychain
  // get" prints what "quorin keychain get --help" prints. Options ("help --help") parse as usual.
  std::vector<std::string> arguments(argv + 1, argv + argc);
  bool namesOnly = std::none_of(arguments.begin(), arguments.end(),
                                [](const std::string& word) { return word.starts_with("-"); });
  if (!arguments.empty() && arguments.front() == "help" && namesOnly)
    return printHelp(app, {arguments.begin() + 1, arguments.end()});

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return finishParse(app, error);
  }
  maskCloudSecrets(argc, argv);
  if (help->parsed()) return printHelp(app, help->remaining());
  // The default container's parents are the library's own; a named one must have its parent.
  if (app.get_option("--container")->count() == 0)
    quorin::platform::linux::makeDefaultContainerParent();
  options.container = container;
  if (app.get_option("--cloud-account")->count() > 0) options.cloudAccount = cloudAccount;
  if (!infoPlist.empty()) options.infoPlist = infoPlist;
  if (!keyStore.empty()) options.keychainKey.store = keyStore;

  try {
    if (info->parsed()) return runInfo(options, schemes);
    if (events->parsed()) return runEvents(options);
    if (sharedCommand->parsed()) return runSharedCredential(options, shared);
    if (keychainCommand->parsed()) return runKeychain(options, keychain);
    if (cloudCommand->parsed()) return runCloud(options, cloud);
    if (migrate->parsed()) return runMigrate(options, migration);
  } catch (const std::exception& error) {
    std::cerr << "quorin: " << error.what() << "\n";
  }
  return 2;
}
