// Databases whose rows were changed behind the code's back: every column holds what its
// reader expects, or the read fails clearly.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "platform/posix/cloud/cloud_journal.hpp"
#include "platform/posix/keychain/sqlite_keychain.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

void execute(const std::filesystem::path& database, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << error;
  sqlite3_free(error);
  sqlite3_close(db);
}

formats::Dictionary item(const std::string& account) {
  return {{std::string(sec::kSecClass), std::string(sec::kSecClassGenericPassword)},
          {std::string(sec::kSecAttrService), "svc"},
          {std::string(sec::kSecAttrAccount), account}};
}

TEST(TamperedRowsTest, KeychainColumnsOfTheWrongTypeReadAsUndecodable) {
  testing::TemporaryDirectory directory;
  auto database = directory.path() / "keychain.db";
  {
    SqliteKeychain keychain(database, {.store = "key-file"});
    auto attributes = item("a");
    attributes[std::string(sec::kSecValueData)] = formats::Data{'v'};
    ASSERT_EQ(keychain.secItemAdd(attributes), errSecSuccess);
  }
  // A blob escapes the column's text affinity.
  execute(database, "UPDATE items SET accc_protection = x'00ff', accc_flags = 1");
  SqliteKeychain keychain(database, {.store = "key-file"});
  formats::Dictionary all = {
      {std::string(sec::kSecClass), std::string(sec::kSecClassGenericPassword)},
      {std::string(sec::kSecMatchLimit), kSecMatchLimitAll()},
      {std::string(sec::kSecReturnAttributes), true}};
  std::optional<formats::Value> result;
  EXPECT_EQ(keychain.secItemCopyMatching(all, &result), errSecDecode);
  EXPECT_EQ(
      keychain.secItemUpdate(item("a"), {{std::string(sec::kSecValueData), formats::Data{'w'}}}),
      errSecDecode);
}

TEST(TamperedRowsTest, AJournalValueThatIsMissingMakesTheJournalDamaged) {
  testing::TemporaryDirectory directory;
  auto path = directory.path() / "journal.db";
  {
    CloudJournal journal(path);
    CloudJournal::Contents contents;
    ASSERT_TRUE(journal.load(contents));
  }
  execute(path,
          "DROP TABLE seen; CREATE TABLE seen (key TEXT PRIMARY KEY, value BLOB) WITHOUT ROWID;"
          "INSERT INTO seen VALUES ('k', NULL)");
  CloudJournal journal(path);
  CloudJournal::Contents contents;
  EXPECT_FALSE(journal.load(contents));
  ASSERT_TRUE(journal.problem());
  EXPECT_NE(journal.problem()->find("damaged"), std::string::npos) << *journal.problem();
}

}  // namespace
}  // namespace quorin::platform::posix
