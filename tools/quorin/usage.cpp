#include "usage.hpp"

#include <iostream>
#include <optional>

namespace quorin::cli {
namespace {

// The deepest command the command line chose, as far as it got.
const CLI::App* chosenCommand(const CLI::App& app) {
  const CLI::App* command = &app;
  while (!command->get_subcommands().empty()) command = command->get_subcommands().front();
  return command;
}

// "quorin keychain get": the names from the top down to `command`.
std::string pathOf(const CLI::App* command) {
  std::string path = command->get_name();
  for (command = command->get_parent(); command; command = command->get_parent())
    path = command->get_name() + " " + path;
  return path;
}

// A command that needs a subcommand and got none, or a word that names none.
std::string missingCommand(const CLI::App& app, const CLI::App* command) {
  auto unknown = app.remaining(true);
  std::string names;
  for (const auto* sub : command->get_subcommands([](const CLI::App*) { return true; }))
    names += (names.empty() ? "" : ", ") + sub->get_name();
  return (unknown.empty() ? "a command is needed" : "unknown command '" + unknown.front() + "'") +
         " (" + names + ")";
}

// An option of one value given more than once, on `command` or a command above it.
std::optional<std::string> repeatedOption(const CLI::App* command) {
  for (; command; command = command->get_parent()) {
    for (const auto* option : command->get_options()) {
      if (option->count() > 1 && option->get_items_expected_max() == 1)
        return option->get_name() + " is given " + std::to_string(option->count()) +
               " times; give it once";
    }
  }
  return std::nullopt;
}

std::string usageFailure(const CLI::App* app, const CLI::Error& error) {
  const auto* command = chosenCommand(*app);
  bool missing = error.get_name() == "RequiredError" && command->get_subcommands().empty() &&
                 command->get_require_subcommand_min() > 0;
  auto repeated = error.get_name() == "ArgumentMismatch" ? repeatedOption(command) : std::nullopt;
  auto why = missing ? missingCommand(*app, command) : repeated.value_or(error.what());
  auto path = pathOf(command);
  return "quorin: " + why + "\nRun 'quorin help" + path.substr(app->get_name().size()) +
         "' for usage.\n";
}

}  // namespace

void sayUsageErrorsPlainly(CLI::App& app) {
  app.failure_message(usageFailure);
}

int finishParse(const CLI::App& app, const CLI::ParseError& error) {
  return app.exit(error) == 0 ? 0 : 2;
}

int printHelp(const CLI::App& app, const std::vector<std::string>& names) {
  const CLI::App* command = &app;
  std::string path = app.get_name();
  for (const auto& name : names) {
    auto found =
        command->get_subcommands([&](const CLI::App* sub) { return sub->check_name(name); });
    if (found.empty()) {
      std::cerr << "quorin: no command '" << name << "' in '" << path
                << "'\nRun 'quorin help' for the commands.\n";
      return 2;
    }
    command = found.front();
    path += " " + name;
  }
  std::cout << command->get_formatter()->make_help(command, path, CLI::AppFormatMode::Normal);
  return 0;
}

}  // namespace quorin::cli
