#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace quorin::cli {

// What every command's exit status means.
inline constexpr const char* kExitStatusHelp =
    "Exit status (every command):\n"
    "  0  done\n"
    "  1  no such value, or refused by the cloud account\n"
    "  2  error, including a usage error";

// Makes parse errors read as Unix tools say them: "quorin: what is wrong", then where the
// usage is.
void sayUsageErrorsPlainly(CLI::App& app);

// What a parse that threw comes to: help and the version are printed and give 0; a usage
// error has been said on standard error and gives 2.
int finishParse(const CLI::App& app, const CLI::ParseError& error);

// Prints the help of the command that `names` spells out ("keychain", "shared", "get"), the
// same as its --help; 2 for a name that is no command there.
int printHelp(const CLI::App& app, const std::vector<std::string>& names);

}  // namespace quorin::cli
