// What every quorin command shares: exit statuses, usage errors, help and the version.
#include <gtest/gtest.h>

#include <simdjson.h>
#include <sqlite3.h>

#include <fstream>
#include <sstream>
#include <string>

#include "cli/cli_run.hpp"
#include "support/temporary_directory.hpp"

namespace {

using quorin::testing::contains;
using quorin::testing::run;

using ConventionsTest = quorin::testing::CliTest;

TEST_F(ConventionsTest, EveryUsageErrorExitsWith2AndSaysWhatIsWrong) {
  const char* const mistakes[] = {"--bogus info",   "keychain",           "cloud get",
                                  "keychain set k", "--key-store x info", "cloud get k --timeout x",
                                  "info extra",     "keychain shared get"};
  for (const char* mistake : mistakes) {
    auto result = run(host() + mistake + " 2>&1");
    EXPECT_EQ(result.status, 2) << mistake << "\n" << result.output;
    EXPECT_TRUE(result.output.starts_with("quorin: ")) << mistake << "\n" << result.output;
    EXPECT_TRUE(contains(result.output, "Run 'quorin help")) << result.output;
  }
  auto missingKey = run(host() + "cloud get 2>&1");
  EXPECT_TRUE(contains(missingKey.output, "Run 'quorin help cloud get' for usage."))
      << missingKey.output;
}

TEST_F(ConventionsTest, AnOptionGivenTwiceIsNamed) {
  for (std::string option :
       {"--cloud-account /tmp/a", "--container /tmp/b", "--key-store key-file"}) {
    auto twice = run(host() + option + " info 2>&1");
    EXPECT_EQ(twice.status, 2) << option;
    EXPECT_TRUE(twice.output.starts_with("quorin: " + option.substr(0, option.find(' ')) +
                                         " is given 2 times; give it once\n"))
        << twice.output;
  }
  auto service = run(host() + "keychain --service a --service b get k 2>&1");
  EXPECT_TRUE(service.output.starts_with("quorin: --service is given 2 times; give it once\n"))
      << service.output;
}

TEST_F(ConventionsTest, HelpShowsTheExitStatusTableAndNamesTheProgramQuorin) {
  auto help = run(host() + "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(contains(help.output, "Usage: quorin [OPTIONS]")) << help.output;
  EXPECT_TRUE(contains(help.output,
                       "  0  done\n  1  no such value, or refused by the cloud "
                       "account\n  2  error, including a usage error"))
      << help.output;
}

TEST_F(ConventionsTest, HelpCommandPrintsWhatTheCommandsHelpOptionPrints) {
  for (std::string command : {"", "keychain", "keychain shared get", "cloud set", "events"}) {
    auto asCommand = run(std::string(QUORIN_CLI_PATH) + " help " + command);
    auto asOption = run(std::string(QUORIN_CLI_PATH) + " " + command + " --help");
    EXPECT_EQ(asCommand.status, 0) << command;
    EXPECT_EQ(asCommand.output, asOption.output) << command;
    EXPECT_TRUE(contains(asCommand.output, ("Usage: quorin " + command).c_str()))
        << asCommand.output;
  }
  auto unknown = run(std::string(QUORIN_CLI_PATH) + " help keychain nope 2>&1");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_TRUE(contains(unknown.output, "quorin: no command 'nope' in 'quorin keychain'"))
      << unknown.output;
}

TEST_F(ConventionsTest, EveryCommandHasHelpText) {
  for (std::string command : {"", "keychain", "keychain shared", "cloud"}) {
    auto help = run(std::string(QUORIN_CLI_PATH) + " help " + command);
    std::istringstream lines(help.output.substr(help.output.find("Subcommands:\n") + 13));
    std::string line;
    int listed = 0;
    while (std::getline(lines, line) && line.starts_with("  ")) {
      std::istringstream words(line);
      std::string name, firstWord;
      words >> name >> firstWord;
      EXPECT_FALSE(firstWord.empty()) << "'" << command << " " << name << "' has no help";
      ++listed;
    }
    EXPECT_GE(listed, 2) << help.output;
  }
}

TEST_F(ConventionsTest, VersionNamesTheCliAndTheLibrary) {
  auto version = run(std::string(QUORIN_CLI_PATH) + " --version");
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.output.starts_with("quorin 1.")) << version.output;
  EXPECT_TRUE(contains(version.output, "\nQuorinNative 1 (PROGRAM:QuorinNative")) << version.output;
}

TEST_F(ConventionsTest, FailuresThatLookedLikeSuccessExitWith2) {
  std::filesystem::create_directories(root.path() / "device" / "Library");
  std::ofstream(root.path() / "device" / "Library" / "campings_legacy") << "in the way";
  auto migrate = run(host() + "migrate 2>&1");
  EXPECT_EQ(migrate.status, 2) << migrate.output;
  EXPECT_TRUE(contains(migrate.output, "cannot make the output directory")) << migrate.output;

  ASSERT_EQ(run(host() + "keychain set key value 2>/dev/null").status, 0);
  sqlite3* db = nullptr;
  auto database = root.path() / "device" / "Library" / "Keychains" / "keychain.db";
  ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "UPDATE items SET extra = x'00'", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  auto list = run(host() + "--json keychain list 2>/dev/null");
  EXPECT_EQ(list.status, 2) << "a listing that failed is no empty keychain";
  EXPECT_EQ(list.output, "");
}

TEST_F(ConventionsTest, MessagesSayWhatIsWrong) {
  auto noHost = run(host() + "keychain shared get --server example.com 2>&1");
  EXPECT_EQ(noHost.status, 2);
  EXPECT_TRUE(contains(noHost.output, "--server 'example.com' names no host")) << noHost.output;
  EXPECT_FALSE(contains(noHost.output, "OSStatus")) << noHost.output;

  auto storefront = run("printf 'storefront\\nquit\\n' | " + host() + "events 2>&1");
  EXPECT_TRUE(contains(storefront.output, "quorin: storefront needs a country code"))
      << storefront.output;
}

TEST_F(ConventionsTest, StatusReportsShareTheKeyValueLayout) {
  auto keychain = run(host() + "keychain status 2>/dev/null");
  EXPECT_TRUE(keychain.output.starts_with("store: key-file\nkeyId: ")) << keychain.output;
  EXPECT_TRUE(contains(keychain.output, "\nitems: 0\n")) << keychain.output;
  auto cloud = run(host() + "cloud status");
  EXPECT_TRUE(cloud.output.starts_with("backend: directory\naccount: ")) << cloud.output;
  EXPECT_TRUE(contains(cloud.output, "\npendingWrites: 0\nlastSync: ")) << cloud.output;
  auto info = run(host() + "info");
  EXPECT_TRUE(contains(info.output, "\nosVersion: 17.0\n")) << info.output;
}

// Each line of the text form is named by a key of the JSON document, a nested one after a dot.
TEST_F(ConventionsTest, TheTextFormOfInfoHasTheJsonDocumentsKeys) {
  auto json = run(host() + "--json info --scheme https 2>/dev/null");
  simdjson::dom::parser parser;
  simdjson::dom::element document;
  ASSERT_EQ(parser.parse(json.output).get(document), simdjson::SUCCESS) << json.output;
  std::istringstream text(run(host() + "info --scheme https 2>/dev/null").output);
  std::size_t lines = 0;
  for (std::string line; std::getline(text, line); ++lines) {
    auto key = line.substr(0, line.find(": "));
    auto dot = key.find('.');
    auto found = dot == std::string::npos ? document[key]
                                          : document[key.substr(0, dot)][key.substr(dot + 1)];
    EXPECT_EQ(found.error(), simdjson::SUCCESS) << line;
  }
  EXPECT_EQ(lines, document.get_object().size());  // one nested answer, for one scheme
  EXPECT_TRUE(contains(text.str(), "\nidfa: (none)\n")) << text.str();
}

}  // namespace
