// Which cloud account locations are URLs, and which URLs an account may have.
#include "platform/linux/cloud_account_location.hpp"

#include <gtest/gtest.h>

#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

TEST(CloudAccountLocationTest, OnlyAPathThatStartsAsAUrlSchemeIsAUrl) {
  for (auto url : {"redis://h:1/0?account=a", "http://x", "redis:/x", "REDIS://x", "a+b.c-d:x"})
    EXPECT_TRUE(linux::isCloudAccountUrl(url)) << url;
  for (auto path : {"/srv/accounts/a:b", "./a:b", "accounts", "1x:y", "a b:c", "_x:y", ""})
    EXPECT_FALSE(linux::isCloudAccountUrl(path)) << path;
}

TEST(CloudAccountLocationTest, SchemesAreCaseInsensitive) {
  EXPECT_EQ(linux::cloudAccountLocationProblem("REDIS://localhost:6379/0?account=a"), std::nullopt);
  EXPECT_EQ(linux::cloudAccountLocationProblem("Unix:///run/redis.sock?account=a"), std::nullopt);
  EXPECT_EQ(linux::cloudAccountIdentity("REDIS://localhost:6379/0?account=a"),
            linux::cloudAccountIdentity("redis://localhost:6379/0?account=a"))
      << "the same account keeps the same journal";
}

TEST(CloudAccountLocationTest, AUrlOfNoSupportedSchemeIsRefusedNamingTheSupportedOnes) {
  for (auto url : {"http://example.com/x", "rediss:h:1/0?account=a", "redis:/x", "ftp:x"}) {
    auto problem = linux::cloudAccountLocationProblem(url);
    ASSERT_TRUE(problem) << url;
    EXPECT_NE(problem->find("redis://, rediss:// or unix://"), std::string::npos) << *problem;
  }
  EXPECT_EQ(linux::cloudAccountLocationProblem("/srv/accounts/a:b"), std::nullopt);
  EXPECT_EQ(linux::cloudAccountLocationProblem("accounts/default"), std::nullopt);
}

TEST(CloudAccountLocationTest, AnUnsupportedUrlIsAnUnusableAccountNotADirectory) {
  testing::TemporaryDirectory root;
  auto here = std::filesystem::current_path();
  std::filesystem::current_path(root.path());
  auto account = linux::openCloudAccount("http://example.com/x");
  auto problem = linux::probeCloudAccount("HTTP://example.com/x");
  std::filesystem::current_path(here);
  EXPECT_TRUE(account->status().problem);
  EXPECT_TRUE(problem);
  EXPECT_TRUE(std::filesystem::is_empty(root.path())) << "nothing named like the URL is made";
}

}  // namespace
}  // namespace quorin::platform::posix
