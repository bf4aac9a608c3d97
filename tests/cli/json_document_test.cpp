// With --json, standard output is one JSON document, whatever the library or the data say.
#include <gtest/gtest.h>
#include <simdjson.h>
#include <sqlite3.h>

#include <string>

#include "cli/cli_run.hpp"
#include "support/temporary_directory.hpp"

namespace {

using quorin::testing::quorin;
using quorin::testing::run;

class JsonDocumentTest : public quorin::testing::CliTest {
 protected:
  // The output parsed as one JSON document; a failed test when it is not one.
  simdjson::dom::element parse(const std::string& output) {
    simdjson::dom::element document;
    EXPECT_EQ(parser.parse(output).get(document), simdjson::SUCCESS) << output;
    return document;
  }

  void execute(const char* sql) {
    auto database = root.path() / "device" / "Library" / "Keychains" / "keychain.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }

  simdjson::dom::parser parser;
};

TEST_F(JsonDocumentTest, TheLibrarysDiagnosticLinesGoToStandardError) {
  ASSERT_EQ(run(host() + "keychain set SharedIdentifier abc 2>/dev/null").status, 0);
  execute("UPDATE items SET data = x'00'");  // every read of it now fails to decode
  auto errors = root.path() / "errors";
  auto migrate = run(host() + "--json migrate 2>'" + errors.string() + "'");
  EXPECT_EQ(migrate.status, 0);
  EXPECT_TRUE(parse(migrate.output)["directory"].is_string());
  auto diagnostics = run("cat '" + errors.string() + "'");
  EXPECT_NE(diagnostics.output.find("OSStatus error:[-26275]"), std::string::npos)
      << diagnostics.output;
}

TEST_F(JsonDocumentTest, TextThatIsNotUtf8IsShownReplacedWithItsBytesBeside) {
  ASSERT_EQ(run(host() + "keychain set \"$(printf 'a\\377b')\" value 2>/dev/null").status, 0);
  ASSERT_EQ(run(host() + "keychain set plain text").status, 0);
  auto list = run(host() + "--json keychain list");
  EXPECT_EQ(list.status, 0);
  auto items = parse(list.output).get_array();
  ASSERT_EQ(items.size(), 2u) << list.output;
  auto odd = items.at(0);
  EXPECT_EQ(std::string_view(odd["key"].get_string().value()),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(std::string_view(odd["key_base64"].get_string().value()), "Yf9i");
  EXPECT_EQ(std::string_view(odd["value"].get_string().value()), "value");
  EXPECT_TRUE(odd["synchronizable"].is_bool()) << list.output;
  EXPECT_TRUE(items.at(1)["key_base64"].error()) << "valid text has no copy beside it";

  auto lookup = run(host() + "--json keychain get \"$(printf 'a\\377b')\"");
  EXPECT_EQ(std::string_view(parse(lookup.output)["key_base64"].get_string().value()), "Yf9i");
}

TEST_F(JsonDocumentTest, EventsReportNoStorefrontAsNull) {
  auto events = run("printf 'storefront none\\nquit\\n' | " + host() + "--json events");
  auto second = events.output.substr(events.output.find('\n') + 1);
  auto line = parse(second.substr(0, second.find('\n')));
  EXPECT_EQ(std::string_view(line["event"].get_string().value()), "storefront");
  EXPECT_TRUE(line["country"].is_null()) << events.output;
}

}  // namespace
