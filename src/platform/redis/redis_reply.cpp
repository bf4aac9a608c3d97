#include "platform/redis/redis_reply.hpp"

#include <hiredis/hiredis.h>

#include <array>

#include "formats/excerpt.hpp"

namespace quorin::platform::redis {
namespace {

// Quoted in a sentence of its own, so shorter than a message's excerpt.
constexpr std::size_t kQuotedBytes = 120;

std::string_view errorCode(std::string_view error) {
  return error.substr(0, error.find(' '));
}

}  // namespace

void ReplyDeleter::operator()(redisReply* reply) const {
  freeReplyObject(reply);
}

std::string_view replyText(const redisReply& reply) {
  bool textual = reply.type == REDIS_REPLY_STRING || reply.type == REDIS_REPLY_STATUS ||
                 reply.type == REDIS_REPLY_ERROR;
  return textual && reply.str ? std::string_view(reply.str, reply.len) : std::string_view();
}

bool isErrorReply(const redisReply& reply) {
  return reply.type == REDIS_REPLY_ERROR;
}

bool isStatusReply(const redisReply& reply, std::string_view status) {
  return reply.type == REDIS_REPLY_STATUS && replyText(reply) == status;
}

std::string describeReply(const redisReply& reply) {
  auto quoted = [&] { return "\"" + formats::excerpt(replyText(reply), kQuotedBytes) + "\""; };
  switch (reply.type) {
    case REDIS_REPLY_STRING:
      return "the string " + quoted();
    case REDIS_REPLY_STATUS:
      return "the status " + quoted();
    case REDIS_REPLY_ERROR:
      return formats::excerpt(replyText(reply));
    case REDIS_REPLY_INTEGER:
      return "the integer " + std::to_string(reply.integer);
    case REDIS_REPLY_NIL:
      return "nil";
    case REDIS_REPLY_ARRAY:
      return "an array of " + std::to_string(reply.elements);
  }
  return "a reply of unknown type " + std::to_string(reply.type);
}

// The maximum number of clients is an error of its own kind, said in the words of any error.
bool isPassingError(std::string_view error) {
  static constexpr std::array kPassing{"LOADING",    "BUSY",        "OOM",
                                       "MASTERDOWN", "TRYAGAIN",    "READONLY",
                                       "MISCONF",    "CLUSTERDOWN", "NOREPLICAS"};
  auto code = errorCode(error);
  for (std::string_view passing : kPassing) {
    if (code == passing) return true;
  }
  return error.starts_with("ERR max number of clients reached");
}

// A command a function calls is checked against the caller's rights too; Redis 7.0 says a
// refusal of those in words of its own.
bool refusesThisDevice(std::string_view error) {
  auto code = errorCode(error);
  return code == "NOPERM" || code == "WRONGPASS" || code == "NOAUTH" ||
         error.find("The user executing the script can't") != std::string_view::npos ||
         error.find("ACL failure in script") != std::string_view::npos;
}

}  // namespace quorin::platform::redis
