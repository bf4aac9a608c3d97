// What `quorin keychain` says about a keychain whose database was changed behind its back.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "cli/cli_run.hpp"
#include "support/temporary_directory.hpp"

namespace {

using quorin::testing::quorin;
using quorin::testing::run;
using quorin::testing::TemporaryDirectory;

TEST(KeychainCommandTest, AListingNamesTheDamagedItemAndListsTheRest) {
  TemporaryDirectory root;
  auto host = quorin(root) + "--key-store key-file keychain ";
  ASSERT_EQ(run(host + "set good kept").status, 0);
  ASSERT_EQ(run(host + "set bad lost").status, 0);
  auto database = root.path() / "device" / "Library" / "Keychains" / "keychain.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "UPDATE items SET data = x'00' WHERE acct = 'bad'", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  sqlite3_close(db);

  auto listed = run(host + "list 2>&1");
  EXPECT_EQ(listed.status, 2);
  EXPECT_EQ(listed.output,
            "good\tkept\nquorin: keychain item \"bad\" is damaged: its value does not open\n");
  auto json = run(quorin(root) + "--json --key-store key-file keychain list 2>/dev/null");
  EXPECT_EQ(json.status, 2);
  EXPECT_NE(json.output.find("\"kept\""), std::string::npos) << json.output;
  EXPECT_EQ(json.output.find("\"bad\""), std::string::npos) << json.output;

  EXPECT_EQ(run(host + "set bad new").status, 0) << "a new value needs no old one";
  EXPECT_EQ(run(host + "get bad").output, "new\n");
  EXPECT_EQ(run(host + "list").output, "good\tkept\nbad\tnew\n");
}

}  // namespace
