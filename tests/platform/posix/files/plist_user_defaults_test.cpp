#include "platform/posix/files/plist_user_defaults.hpp"

#include <gtest/gtest.h>

#include "formats/plist_codec.hpp"
#include "platform/posix/files/file_io.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

class PlistUserDefaultsTest : public ::testing::Test {
 protected:
  void write(const std::string& suite, const formats::Value& contents,
             formats::PlistFormat format) {
    makeDirectories(preferences, 0700);
    ASSERT_TRUE(writeFileAtomically(preferences / (suite + ".plist"),
                                    *formats::serializePlist(contents, format), 0600));
  }

  testing::TemporaryDirectory root;
  std::filesystem::path preferences = root.path() / "Library" / "Preferences";
};

TEST_F(PlistUserDefaultsTest, ReadsBinaryAndXmlSuites) {
  formats::Dictionary contents{
      {"AdjustId", formats::Value("adj")},
      {"app_session", formats::Value(std::int64_t{7})},
      {"PurchasedInAppIds",
       formats::Value(formats::Array{formats::Value("a"), formats::Value("b")})},
      {"when", formats::Value(formats::Date{1'700'000'000.5})}};
  write("com.corvasta.morvent", formats::Value(contents), formats::PlistFormat::binary);
  write("com.vendexa.iossdk",
        formats::Value(formats::Dictionary{{"AdjustId", formats::Value("xml")}}),
        formats::PlistFormat::xml);

  auto legacy = PlistUserDefaults::open(preferences, "com.corvasta.morvent");
  ASSERT_TRUE(legacy);
  EXPECT_EQ(legacy->objectForKey("AdjustId"), formats::Value("adj"));
  EXPECT_EQ(legacy->objectForKey("when"), formats::Value(formats::Date{1'700'000'000.5}));
  EXPECT_EQ(legacy->objectForKey("missing"), std::nullopt);
  EXPECT_EQ(legacy->dictionaryRepresentation(), contents);
  EXPECT_FALSE(legacy->problem());

  auto current = PlistUserDefaults::open(preferences, "com.vendexa.iossdk");
  EXPECT_EQ(current->objectForKey("AdjustId"), formats::Value("xml"));
  auto absent = PlistUserDefaults::open(preferences, "never.written");
  EXPECT_TRUE(absent->dictionaryRepresentation().empty());
  EXPECT_FALSE(absent->problem());
}

TEST_F(PlistUserDefaultsTest, NamesThatAreNoPlainFileNameAreRefused) {
  using namespace std::string_view_literals;
  for (auto name : {""sv, "."sv, ".."sv, "../escape"sv, "a/b"sv, "a\0b"sv})
    EXPECT_FALSE(PlistUserDefaults::open(preferences, name)) << name;
  EXPECT_TRUE(PlistUserDefaults::open(preferences, "..hidden"));
  auto suite = PlistUserDefaults::open(preferences, "kept");
  write("kept", formats::Value(formats::Dictionary{{"k", formats::Value(1)}}),
        formats::PlistFormat::binary);
  suite->removePersistentDomainForName("../Preferences/kept");
  EXPECT_TRUE(std::filesystem::exists(preferences / "kept.plist"));
}

TEST_F(PlistUserDefaultsTest, ADamagedSuiteReadsAsEmptyAndStaysAsItIs) {
  makeDirectories(preferences, 0700);
  for (auto [name, bytes] : std::initializer_list<std::pair<std::string, std::string>>{
           {"garbage", "not a plist at all"},
           {"empty", ""},
           {"array", *formats::serializePlist(formats::Value(formats::Array{formats::Value(1)}),
                                              formats::PlistFormat::binary)},
           {"truncated",
            formats::serializePlist(formats::Value(formats::Dictionary{{"k", formats::Value("v")}}),
                                    formats::PlistFormat::binary)
                ->substr(0, 20)}}) {
    auto path = preferences / (name + ".plist");
    ASSERT_TRUE(writeFileAtomically(path, bytes, 0600));
    auto suite = PlistUserDefaults::open(preferences, name);
    EXPECT_TRUE(suite->dictionaryRepresentation().empty()) << name;
    ASSERT_TRUE(suite->problem()) << name;
    EXPECT_NE(suite->problem()->find(path.string()), std::string::npos);
    EXPECT_EQ(readFile(path), bytes) << name;
  }
}

TEST_F(PlistUserDefaultsTest, RemovingAPersistentDomainErasesTheWholeSuite) {
  write("legacy", formats::Value(formats::Dictionary{{"k", formats::Value("v")}}),
        formats::PlistFormat::binary);
  write("other", formats::Value(formats::Dictionary{{"k", formats::Value("v")}}),
        formats::PlistFormat::binary);
  auto legacy = PlistUserDefaults::open(preferences, "legacy");
  auto standard = PlistUserDefaults::open(preferences, "com.example.app");
  standard->removePersistentDomainForName("legacy");
  EXPECT_FALSE(std::filesystem::exists(preferences / "legacy.plist"));
  EXPECT_TRUE(std::filesystem::exists(preferences / "other.plist"));
  EXPECT_TRUE(PlistUserDefaults::open(preferences, "legacy")->dictionaryRepresentation().empty());
  legacy->removePersistentDomainForName("legacy");
  EXPECT_TRUE(legacy->dictionaryRepresentation().empty());
  standard->removePersistentDomainForName("never there");
}

}  // namespace
}  // namespace quorin::platform::posix
