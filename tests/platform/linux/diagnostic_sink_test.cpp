// The library's diagnostic lines reach the sink the host names, and only it.
#include <gtest/gtest.h>

#include <vector>

#include "keychain/keychain.hpp"
#include "platform/linux/linux_platform.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

TEST(DiagnosticSinkTest, KeychainDiagnosticsGoToTheSinkTheOptionsName) {
  testing::TemporaryDirectory root;
  std::vector<std::string> lines;
  auto platform = std::make_shared<linux::LinuxPlatform>(linux::LinuxPlatformOptions{
      .container = root.path() / "device",
      .cloudAccount = (root.path() / "account").string(),
      .keychainKey = {.store = std::string(kKeyFileKeyStore)},
      .diagnostics = [&](std::string_view line) { lines.emplace_back(line); }});
  auto keychain =
      keychain::Keychain::withServer(platform, "example.com", keychain::ProtocolType::https);

  ::testing::internal::CaptureStdout();
  keychain->getSharedPassword([](auto, auto, auto) {});  // no host: answered at once
  EXPECT_THROW(keychain->set(std::string("\xff"), "key"), std::exception);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << "the host's output stays its own";
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "OSStatus error:[-50] One or more parameters passed to a function were "
                       "not valid.",
                       "failed to convert string to data"}));
}

}  // namespace
}  // namespace quorin::platform::posix
