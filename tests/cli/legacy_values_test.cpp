// The quorin host migrating legacy values that lie past what 32- or signed 64-bit fields hold.
#include <gtest/gtest.h>
#include <simdjson.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "cli/cli_run.hpp"
#include "support/temporary_directory.hpp"

namespace {

namespace fs = std::filesystem;
using quorin::testing::quorin;
using quorin::testing::run;
using quorin::testing::TemporaryDirectory;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(LegacyValuesCliTest, MigratesUnsignedCountersAndFarDatesExactly) {
  TemporaryDirectory root;
  auto library = root.path() / "device" / "Library";
  fs::create_directories(library / "Preferences");
  std::ofstream(library / "Preferences" / "com.vendexa.iossdk.plist")
      << R"(<?xml version="1.0" encoding="UTF-8"?>)"
      << R"(<plist version="1.0"><dict>)"
      << "<key>GlobalClickCounter</key><integer>18446744073709551615</integer>"
      << "<key>app_session</key><integer>18446744073709551615</integer>"
      << "<key>temp-limits-products</key><dict>"
      << "<key>early</key><date>1900-01-01T00:00:00Z</date>"
      << "<key>late</key><date>2100-01-01T00:00:00Z</date>"
      << "<key>later</key><date>4001-01-01T00:00:00Z</date>"
      << "</dict></dict></plist>";

  auto migrated = run(quorin(root) + "migrate");
  ASSERT_EQ(migrated.status, 0) << migrated.output;
  auto output = library / "campings_legacy";
  EXPECT_EQ(readFile(output / "counters"), R"({"GlobalClickCounter":18446744073709551615})");

  simdjson::dom::parser parser;
  simdjson::dom::element general;
  ASSERT_EQ(parser.parse(readFile(output / "generalInfo")).get(general), simdjson::SUCCESS);
  EXPECT_EQ(general["sessionVersionAgnosticCounter"].error(), simdjson::NO_SUCH_FIELD)
      << "no signed 64-bit number holds the session counter";
  auto timestamps = general["productsTimestamps"];
  EXPECT_EQ(timestamps["early"].get_double().value(), -2208988800.0);
  EXPECT_EQ(timestamps["late"].get_double().value(), 4102444800.0);
  EXPECT_EQ(timestamps["later"].get_double().value(), 64092211200.0);
}

}  // namespace
