#include "platform/posix/device/environment_locale.hpp"

#include <gtest/gtest.h>

namespace quorin::platform::posix {
namespace {

TEST(LocaleNameTest, ConvertsPosixNamesToLanguageTags) {
  EXPECT_EQ(languageTagFromLocaleName("en_US.UTF-8"), "en-US");
  EXPECT_EQ(languageTagFromLocaleName("de_DE@euro"), "de-DE");
  EXPECT_EQ(languageTagFromLocaleName("fr"), "fr");
  EXPECT_EQ(languageTagFromLocaleName("EN_gb"), "en-GB");
  EXPECT_EQ(languageTagFromLocaleName("es_419.UTF-8"), "es-419");
  EXPECT_EQ(regionFromLocaleName("en_US.UTF-8"), "US");
  EXPECT_EQ(regionFromLocaleName("fr"), std::nullopt);
  for (auto none :
       {"", "C", "POSIX", "C.UTF-8", "e_US", "english_US", "en_USA", "en_U1", "\xFFx"}) {
    EXPECT_EQ(languageTagFromLocaleName(none), std::nullopt) << none;
  }
}

TEST(EnvironmentLocaleTest, FollowsPosixPrecedence) {
  EnvironmentLocale all({{"LC_ALL", "pt_BR.UTF-8"}, {"LC_MESSAGES", "de_DE"}, {"LANG", "en_US"}});
  EXPECT_EQ(all.preferredLanguages(), std::vector<std::string>{"pt-BR"});
  EXPECT_EQ(all.regionCode(), "BR");

  EnvironmentLocale lang({{"LANG", "en_GB.UTF-8"}, {"LANGUAGE", "fr_CA:fr:en_GB:bogus"}});
  EXPECT_EQ(lang.preferredLanguages(), (std::vector<std::string>{"fr-CA", "fr", "en-GB"}));
  EXPECT_EQ(lang.regionCode(), "GB");
}

TEST(EnvironmentLocaleTest, CLocaleHasNoLanguageAndIgnoresLanguageList) {
  EnvironmentLocale c({{"LANG", "C.UTF-8"}, {"LANGUAGE", "de"}});
  EXPECT_TRUE(c.preferredLanguages().empty());
  EXPECT_EQ(c.regionCode(), std::nullopt);
  EnvironmentLocale empty({});
  EXPECT_TRUE(empty.preferredLanguages().empty());
}

}  // namespace
}  // namespace quorin::platform::posix
