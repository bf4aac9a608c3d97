// Where a device's container may be made, for the CLI and for every embedder.
#include "platform/posix/files/container.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "keychain/keychain.hpp"
#include "platform/linux/linux_platform.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

class ContainerTest : public ::testing::Test {
 protected:
  testing::TemporaryDirectory root;
};

TEST_F(ContainerTest, IsMadeInADirectoryThatExistsAndOpenedAfterwards) {
  auto container = root.path() / "device";
  auto first = openContainer(container);
  EXPECT_TRUE(first.made);
  EXPECT_FALSE(first.problem) << *first.problem;
  EXPECT_TRUE(std::filesystem::is_directory(container));
  auto second = openContainer(container);
  EXPECT_FALSE(second.made) << "it is the same device now";
  EXPECT_FALSE(second.problem);
}

TEST_F(ContainerTest, IsNotMadeWhereItsParentIsMissing) {
  auto opened = openContainer(root.path() / "typo" / "deep" / "device");
  EXPECT_FALSE(opened.made);
  ASSERT_TRUE(opened.problem);
  EXPECT_NE(opened.problem->find("parent directory"), std::string::npos) << *opened.problem;
  EXPECT_FALSE(std::filesystem::exists(root.path() / "typo"));
}

TEST_F(ContainerTest, AFileInItsPlaceIsNoContainer) {
  std::ofstream(root.path() / "file") << "x";
  auto opened = openContainer(root.path() / "file");
  ASSERT_TRUE(opened.problem);
  EXPECT_NE(opened.problem->find("is not a directory"), std::string::npos) << *opened.problem;
}

TEST_F(ContainerTest, APlatformOnAMistypedContainerMakesNothingAnywhere) {
  auto container = root.path() / "typo" / "deep" / "device";
  auto platform = std::make_shared<linux::LinuxPlatform>(
      linux::LinuxPlatformOptions{.container = container,
                                  .cloudAccount = (root.path() / "account").string(),
                                  .keychainKey = {.store = std::string(kKeyFileKeyStore)}});
  ASSERT_TRUE(platform->openedContainer().problem);
  auto keychain = keychain::Keychain::withService(platform, "service");
  EXPECT_THROW(keychain->set(std::string("value"), "key"), std::exception);
  platform->makeReplicaStore()->exchange();
  EXPECT_FALSE(platform->fileManager().createDirectory(container / "Library" / "x"));
  EXPECT_FALSE(std::filesystem::exists(root.path() / "typo"))
      << "no device, key file or journal is made under a path that was never there";
}

}  // namespace
}  // namespace quorin::platform::posix
