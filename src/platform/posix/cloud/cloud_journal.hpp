#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cloud_account.hpp"
#include "platform/posix/sqlite/sqlite_connection.hpp"

namespace quorin::platform::posix {

// A device's durable side of one cloud account, in its container: the account's values as
// last seen, with the version they were seen at, and the local writes not yet pushed. A
// write is on disk before setObject() returns, so a crash or an unreachable server loses
// nothing; the next exchange pushes it with its original time. Not thread-safe.
class CloudJournal {
 public:
  struct Contents {
    std::map<std::string, std::string, std::less<>> values;  // as the account held them
    std::vector<CloudWrite> pending;
    std::int64_t version = 0;
    // Nanoseconds since 1970 of the last exchange that pushed or pulled anything; 0 before it.
    std::int64_t syncedAt = 0;
  };
  // What one exchange learned, applied in one transaction.
  struct Exchange {
    std::vector<CloudWrite> pushed;  // dropped from the pending writes unless rewritten since
    std::vector<std::pair<std::string, std::optional<std::string>>> values;
    std::int64_t version = 0;
    std::int64_t syncedAt = 0;
  };

  explicit CloudJournal(DatabaseLocation location);

  bool load(Contents& contents);
  bool record(const CloudWrite& write);
  bool settle(const Exchange& exchange);
  // Why the journal cannot be used, or none.
  const std::optional<std::string>& problem() const { return problem_; }

 private:
  bool ensureOpen();
  bool fail();
  // A journal whose rows cannot be what this code wrote; it is not used again.
  bool damaged(std::string_view what);

  SqliteConnection db_;
  bool damaged_ = false;
  std::optional<std::string> problem_;
};

}  // namespace quorin::platform::posix
