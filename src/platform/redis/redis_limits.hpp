#pragma once

#include <cstddef>

#include "platform/cloud_account.hpp"
#include "platform/redis/resp_screen.hpp"

namespace quorin::platform::redis {

// What one function call takes or gives: writes pushed, rows of changes read. A call holds
// the server for the account alone, so a device with more than this waiting makes more
// calls, each atomic.
inline constexpr std::size_t kWritesPerCall = 1024;
inline constexpr std::size_t kRowsPerCall = 1024;

// What a device's command connection takes in one reply. The largest it can be sent is a
// page of changes: kRowsPerCall key, version and value triples, whose keys and values
// together stay within the account's megabyte, while the keys of removed rows (64 bytes at
// most each) and the framing of a page add less than 128 KiB. A value is at most the
// megabyte; no reply nests an array in another. On a cluster the page starts with the
// account's version; the cluster's list of its nodes is one string.
inline constexpr RespLimits kCommandLimits{.replyBytes = kCloudMaxTotalBytes + 128 * 1024,
                                           .stringBytes = kCloudMaxTotalBytes,
                                           .elements = 3 * kRowsPerCall + 1,
                                           .depth = 1};

// What the subscription takes: its confirmation and each message is an array of three, the
// kind, the channel (an account name is at most 128 bytes) and a version, about 200 bytes.
inline constexpr RespLimits kSubscriptionLimits{
    .replyBytes = 4096, .stringBytes = 1024, .elements = 3, .depth = 1};

}  // namespace quorin::platform::redis
