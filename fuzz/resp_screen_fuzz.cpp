#include <hiredis/hiredis.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/redis/resp_screen.hpp"

namespace {

using namespace quorin::platform::redis;

struct ReaderFree {
  void operator()(redisReader* reader) const { redisReaderFree(reader); }
};

// Whether a reply hiredis made keeps within what the screen counted.
bool within(const redisReply& reply, const RespLimits& limits, std::size_t depth) {
  if (reply.type == REDIS_REPLY_STRING && reply.len > limits.stringBytes) return false;
  if (reply.type != REDIS_REPLY_ARRAY) return true;
  if (depth > limits.depth || reply.elements > limits.elements) return false;
  return std::all_of(reply.element, reply.element + reply.elements, [&](const redisReply* element) {
    return within(*element, limits, depth + 1);
  });
}

// How many replies hiredis reads from `stream`, each checked against the limits; -1 when
// it fails or makes one beyond them.
long hiredisReplies(std::string_view stream, const RespLimits& limits) {
  std::unique_ptr<redisReader, ReaderFree> reader(redisReaderCreate());
  if (redisReaderFeed(reader.get(), stream.data(), stream.size()) != REDIS_OK) return -1;
  long count = 0;
  while (true) {
    void* raw = nullptr;
    if (redisReaderGetReply(reader.get(), &raw) != REDIS_OK) return -1;
    if (!raw) return count;
    bool fits = within(*static_cast<redisReply*>(raw), limits, 1);
    freeReplyObject(raw);
    if (!fits) return -1;
    ++count;
  }
}

}  // namespace

// The screen in front of hiredis's reader agrees with it: whatever the screen passes,
// hiredis reads as the same number of replies, none beyond the limits; and how the bytes
// are cut into pieces changes nothing the screen says. The first three bytes choose the
// limits and the size of the pieces.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  RespLimits limits{.replyBytes = 8 + std::size_t{data[0]} * 16,
                    .stringBytes = std::size_t{data[1]} * 4,
                    .elements = 1 + std::size_t{data[2]} % 32,
                    .depth = 1 + std::size_t{data[2]} / 32 % 7};
  std::size_t piece = 1 + data[1] % 5;
  std::string_view stream(reinterpret_cast<const char*>(data + 3), size - 3);

  RespScreen whole(limits);
  bool passed = whole.take(stream);
  RespScreen cut(limits);
  bool cutPassed = true;
  for (std::size_t at = 0; at < stream.size() && cutPassed; at += piece)
    cutPassed = cut.take(stream.substr(at, piece));
  if (passed != cutPassed || whole.replies() != cut.replies() || whole.problem() != cut.problem() ||
      whole.midReply() != cut.midReply())
    std::abort();
  if (!passed) return 0;
  if (hiredisReplies(stream, limits) != static_cast<long>(whole.replies())) std::abort();
  return 0;
}
