#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/redis/redis_connection.hpp"

namespace quorin::platform::redis {

// The account's code on the server: one library of Redis Functions, loaded by the operator
// (provision-account), so that a device can call it but never load code of its own. Its
// functions carry the library's version in their names: a device meets a library older
// than its own as functions that are not there. Every key a function touches is named in
// its keys, so the caller's key pattern applies to them, as its rights apply to every
// command they call.
inline constexpr int kFunctionsVersion = 2;
inline constexpr const char* kPushFunction = "quorin_push_v1";
inline constexpr const char* kChangesFunction = "quorin_changes_v1";
inline constexpr const char* kClusterPushFunction = "quorin_push_v2";
inline constexpr const char* kClusterChangesFunction = "quorin_changes_v2";

// quorin_push_v1 applies a device's writes in one step, so that no other device's write can
// slip between a quota check and the write it allows. A key's stamp is its write time
// (seconds and nanoseconds, each exact in Lua's numbers) and the writing device; the later
// stamp wins. Keys: values, stamps, versions, state. Arguments: device, channel, byte, key
// and key-length limits, then per write: key, seconds, nanoseconds, "1" and value, or "0"
// and "" to remove. Answers an outcome per write: 0 applied, 1 superseded, 2 refused; and
// publishes the account's new version on the channel.
//
// quorin_push_v2 is the same with "SPUBLISH" or "PUBLISH" after the channel: a cluster's
// channel is a shard channel, published where the account's slot lives.
//
// quorin_changes_v1 reads the keys written after a version, each with the version and value
// it has now, so that each value matches its version. Keys: versions, values. Arguments:
// the version, the most rows to answer. Answers key, version, value-or-nil triples in
// version order.
//
// quorin_changes_v2 takes the state key too and answers the account's version first, so
// that a device whose version is ahead of the account's (a master that died before its
// replica had the last writes) reads the account again from the start.
//
// quorin_version answers the library's version, for provisioning to tell whether to load it.
inline constexpr const char* kFunctionsLibrary = R"lua(#!lua name=quorin

local function later(existing, device, seconds, nanos)
  if not existing then return false end
  local s, n, d = string.match(existing, '^(%d+) (%d+) (.*)$')
  s, n = tonumber(s), tonumber(n)
  if s ~= seconds then return s > seconds end
  if n ~= nanos then return n > nanos end
  return d >= device
end

local function push(keys, args, publish, limits)
  local values, stamps, versions, state = keys[1], keys[2], keys[3], keys[4]
  local device, channel = args[1], args[2]
  local maxBytes = tonumber(args[limits])
  local maxKeys, maxKeyBytes = tonumber(args[limits + 1]), tonumber(args[limits + 2])
  local liveKeys = tonumber(redis.call('HGET', state, 'keys') or '0')
  local liveBytes = tonumber(redis.call('HGET', state, 'bytes') or '0')
  local outcomes, version = {}, nil
  for i = limits + 3, #args, 5 do
    local key, seconds, nanos = args[i], tonumber(args[i + 1]), tonumber(args[i + 2])
    local live, value = args[i + 3] == '1', args[i + 4]
    if later(redis.call('HGET', stamps, key), device, seconds, nanos) then
      outcomes[#outcomes + 1] = 1
    else
      local had = redis.call('HEXISTS', values, key) == 1
      local oldSize = had and (#key + redis.call('HSTRLEN', values, key)) or 0
      local newKeys = liveKeys - (had and 1 or 0) + (live and 1 or 0)
      local newBytes = liveBytes - oldSize + (live and (#key + #value) or 0)
      if live and (#key > maxKeyBytes or newKeys > maxKeys or newBytes > maxBytes) then
        outcomes[#outcomes + 1] = 2
      else
        if live then redis.call('HSET', values, key, value) else redis.call('HDEL', values, key) end
        redis.call('HSET', stamps, key, string.format('%d %d %s', seconds, nanos, device))
        version = redis.call('HINCRBY', state, 'version', 1)
        redis.call('ZADD', versions, version, key)
        liveKeys, liveBytes = newKeys, newBytes
        outcomes[#outcomes + 1] = 0
      end
    end
  end
  if version then
    redis.call('HSET', state, 'keys', liveKeys, 'bytes', liveBytes)
    redis.call(publish, channel, tostring(version))
  end
  return outcomes
end

local function changes(keys, args)
  local rows = redis.call('ZRANGEBYSCORE', keys[1], '(' .. args[1], '+inf', 'WITHSCORES',
                          'LIMIT', 0, tonumber(args[2]))
  local out = {}
  for i = 1, #rows, 2 do
    out[#out + 1] = rows[i]
    out[#out + 1] = rows[i + 1]
    out[#out + 1] = redis.call('HGET', keys[2], rows[i])
  end
  return out
end

local function changesWithVersion(keys, args)
  local out = changes(keys, args)
  table.insert(out, 1, tonumber(redis.call('HGET', keys[3], 'version') or '0'))
  return out
end

redis.register_function('quorin_push_v1', function(keys, args)
  return push(keys, args, 'PUBLISH', 3)
end)
redis.register_function('quorin_push_v2', function(keys, args)
  return push(keys, args, args[3] == 'SPUBLISH' and 'SPUBLISH' or 'PUBLISH', 4)
end)
redis.register_function{function_name = 'quorin_changes_v1', callback = changes,
                        flags = {'no-writes'}}
redis.register_function{function_name = 'quorin_changes_v2', callback = changesWithVersion,
                        flags = {'no-writes'}}
redis.register_function{function_name = 'quorin_version', callback = function() return 2 end,
                        flags = {'no-writes'}}
)lua";

// Loads the library on the server `connection` reaches (with the rights of a user who may
// load functions), or replaces an older version of it; the version in place is kept, and
// so is a newer one, for the devices that need it. False with `error` saying why.
bool installAccountFunctions(RedisConnection& connection, std::string& error);

// What a device tells its user when an error from calling a function says that the server
// lacks them: a lasting refusal until someone provisions the server. None for other errors.
std::optional<std::string> missingFunctions(std::string_view error);

}  // namespace quorin::platform::redis
