#pragma once

#include <filesystem>
#include <memory>

#include "platform/cloud_account.hpp"
#include "platform/posix/cloud/cloud_account_database.hpp"
#include "platform/posix/cloud/directory_watcher.hpp"

namespace quorin::platform::posix {

// A cloud account in a directory, shared by the devices of one machine or file system; a
// watcher on the database file tells of other devices' writes.
class DirectoryCloudAccount final : public CloudAccount {
 public:
  explicit DirectoryCloudAccount(std::filesystem::path directory);

  std::int64_t now() override;
  bool push(const std::vector<CloudWrite>& writes, std::string_view device,
            std::vector<CloudWriteOutcome>& outcomes) override {
    return database_.push(writes, device, outcomes);
  }
  bool changesSince(std::int64_t version, std::vector<CloudRow>& rows) override {
    return database_.changesSince(version, rows);
  }
  bool current(std::string_view key, std::optional<std::string>& encoded) override {
    return database_.current(key, encoded);
  }
  CloudAccountStatus status() override;
  void watch(std::function<void()> onChange) override;
  void stopWaiting() override { database_.stopWaiting(); }

 private:
  CloudAccountDatabase database_;
  std::unique_ptr<DirectoryWatcher> watcher_;
};

}  // namespace quorin::platform::posix
