#pragma once

#include <memory>
#include <string>
#include <string_view>

struct redisReply;

namespace quorin::platform::redis {

struct ReplyDeleter {
  void operator()(redisReply* reply) const;
};
// A reply of hiredis's, freed with its holder.
using RedisReply = std::unique_ptr<redisReply, ReplyDeleter>;

// The reply's text for a string, status or error reply; empty otherwise.
std::string_view replyText(const redisReply& reply);
bool isErrorReply(const redisReply& reply);
bool isStatusReply(const redisReply& reply, std::string_view status);

// What the reply is, for a message saying that it was not what was due: an error in the
// server's words, else "an array of 3", "the string "..."", with those words bounded and
// escaped.
std::string describeReply(const redisReply& reply);

// Whether an error says that the server serves no one just now and will again: it is busy
// (a script, a full client table), loading, failing over, or out of memory or disk.
bool isPassingError(std::string_view error);
// Whether an error refuses this device's credentials or rights, which lasts until someone
// changes them.
bool refusesThisDevice(std::string_view error);

}  // namespace quorin::platform::redis
