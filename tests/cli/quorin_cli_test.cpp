#include <gtest/gtest.h>
#include <simdjson.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "support/temporary_directory.hpp"

namespace {

struct Run {
  int status;
  std::string output;
};

Run run(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  std::string output;
  std::array<char, 4096> buffer;
  std::size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0)
    output.append(buffer.data(), got);
  int status = ::pclose(pipe.release());
  return {status, output};
}

std::string quorin(const quorin::testing::TemporaryDirectory& container) {
  return std::string(QUORIN_CLI_PATH) + " --container '" + (container.path() / "device").string() +
         "' ";
}

TEST(QuorinCliTest, InfoJsonOnAFreshContainerHasEveryFact) {
  quorin::testing::TemporaryDirectory container;
  auto first = run(quorin(container) + "info --json --scheme 'not a url'");
  ASSERT_EQ(first.status, 0) << first.output;

  simdjson::dom::parser parser;
  simdjson::dom::element facts;
  ASSERT_EQ(parser.parse(first.output).get(facts), simdjson::SUCCESS) << first.output;
  for (auto key : {"deviceModel", "osVersion", "buildNumber", "languageWithRegion",
                   "encodedDeviceIdentifier", "idfv"}) {
    EXPECT_TRUE(facts[key].is_string()) << key;
  }
  EXPECT_TRUE(facts["isTablet"].is_bool());
  EXPECT_TRUE(facts["idfa"].is_null()) << "tracking is not authorised on a new device";
  EXPECT_EQ(std::string_view(facts["storeCountry"].get_string().value()), "USA");
  EXPECT_FALSE(facts["isApplicationInstalled"]["not a url"].get_bool().value());
  std::string idfv(facts["idfv"].get_string().value());
  EXPECT_EQ(idfv.size(), 36u);

  auto second = run(quorin(container) + "info --json");
  ASSERT_EQ(second.status, 0);
  simdjson::dom::element again;
  ASSERT_EQ(parser.parse(second.output).get(again), simdjson::SUCCESS);
  EXPECT_EQ(std::string_view(again["idfv"].get_string().value()), idfv)
      << "the vendor identifier is generated once";
}

TEST(QuorinCliTest, EventsRelaysHostLinesAsCallbacks) {
  quorin::testing::TemporaryDirectory container;
  auto result =
      run("printf 'foreground\\nstorefront JPN 143462\\nresign\\nquit\\nbackground\\n' | " +
          quorin(container) + "events");
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(result.output,
            "ready USA\n"
            "onApplicationEnterForeground\n"
            "storefront JPN\n"
            "onApplicationWillResignActive\n");
}

TEST(QuorinCliTest, UnknownCommandFailsWithHelp) {
  quorin::testing::TemporaryDirectory container;
  auto result = run(quorin(container) + "frobnicate 2>&1");
  EXPECT_NE(result.status, 0);
  EXPECT_NE(result.output.find("info"), std::string::npos) << result.output;
}

}  // namespace
