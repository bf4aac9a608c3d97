#include "platform/redis/redis_functions.hpp"

#include <hiredis/hiredis.h>

namespace quorin::platform::redis {
namespace {

constexpr const char* kLibraryName = "quorin";
constexpr const char* kVersionFunction = "quorin_version";
constexpr std::string_view kNotFound = "ERR Function not found";

struct Loaded {
  bool present = false;
  long long version = 0;
};

// Which version of the library the server holds, if any.
std::optional<Loaded> loadedVersion(RedisConnection& connection, std::string& error) {
  auto reply = connection.command({"FCALL_RO", kVersionFunction, "0"});
  if (!reply) return (error = connection.error(), std::nullopt);
  if (reply->type == REDIS_REPLY_INTEGER) return Loaded{true, reply->integer};
  if (isErrorReply(*reply) && replyText(*reply).starts_with(kNotFound)) return Loaded{};
  error = "the server's functions cannot be asked their version: " + describeReply(*reply);
  return std::nullopt;
}

std::string versionText(long long version) {
  return "version " + std::to_string(version);
}

}  // namespace

bool installAccountFunctions(RedisConnection& connection, std::string& error) {
  auto loaded = loadedVersion(connection, error);
  if (!loaded) return false;
  if (loaded->present && loaded->version == kFunctionsVersion) return true;
  if (loaded->present && loaded->version > kFunctionsVersion) {
    error = "the server holds " + versionText(loaded->version) +
            " of the account's functions, newer than " + versionText(kFunctionsVersion) +
            " of this quorin: provision with a quorin that has it";
    return false;
  }
  std::vector<std::string_view> load{"FUNCTION", "LOAD"};
  if (loaded->present) load.push_back("REPLACE");
  load.push_back(kFunctionsLibrary);
  auto reply = connection.command(load);
  if (!reply) return (error = connection.error(), false);
  if (reply->type != REDIS_REPLY_STRING || replyText(*reply) != kLibraryName) {
    error = "the server would not load the account's functions: " + describeReply(*reply);
    return false;
  }
  loaded = loadedVersion(connection, error);
  if (!loaded) return false;
  if (loaded->present && loaded->version == kFunctionsVersion) return true;
  error =
      "the account's functions, once loaded, do not say they are " + versionText(kFunctionsVersion);
  return false;
}

std::optional<std::string> missingFunctions(std::string_view error) {
  if (error.starts_with(kNotFound))
    return "the server lacks the account's functions (" + versionText(kFunctionsVersion) +
           "): run quorin cloud provision-account";
  if (error.starts_with("ERR unknown command"))
    return std::string("the server has no Redis Functions, which came with Redis 7.0");
  if (error.starts_with("NOPERM") && error.find("'fcall") != std::string_view::npos)
    return "the account's user may not call its functions (it was provisioned before them): "
           "run quorin cloud provision-account";
  return std::nullopt;
}

}  // namespace quorin::platform::redis
