#pragma once

namespace quorin::platform::redis {

// Applies a device's writes in one step, so that no other device's write can slip between
// a quota check and the write it allows. A key's stamp is its write time (seconds and
// nanoseconds, each exact in Lua's numbers) and the writing device; the later stamp wins.
// KEYS: values, stamps, versions, state. ARGV: device, channel, byte, key and key-length
// limits, then per write: key, seconds, nanoseconds, "1" and value, or "0" and "" to remove.
// Answers an outcome per write: 0 applied, 1 superseded, 2 refused.
inline constexpr const char* kPushScript = R"lua(
local values, stamps, versions, state = KEYS[1], KEYS[2], KEYS[3], KEYS[4]
local device, channel = ARGV[1], ARGV[2]
local maxBytes, maxKeys, maxKeyBytes = tonumber(ARGV[3]), tonumber(ARGV[4]), tonumber(ARGV[5])
local keys = tonumber(redis.call('HGET', state, 'keys') or '0')
local bytes = tonumber(redis.call('HGET', state, 'bytes') or '0')
local outcomes, changed, version = {}, {}, nil

local function later(existing, seconds, nanos)
  if not existing then return false end
  local s, n, d = string.match(existing, '^(%d+) (%d+) (.*)$')
  s, n = tonumber(s), tonumber(n)
  if s ~= seconds then return s > seconds end
  if n ~= nanos then return n > nanos end
  return d >= device
end

for i = 6, #ARGV, 5 do
  local key, seconds, nanos = ARGV[i], tonumber(ARGV[i + 1]), tonumber(ARGV[i + 2])
  local live, value = ARGV[i + 3] == '1', ARGV[i + 4]
  if later(redis.call('HGET', stamps, key), seconds, nanos) then
    outcomes[#outcomes + 1] = 1
  else
    local had = redis.call('HEXISTS', values, key) == 1
    local oldSize = had and (#key + redis.call('HSTRLEN', values, key)) or 0
    local newKeys = keys - (had and 1 or 0) + (live and 1 or 0)
    local newBytes = bytes - oldSize + (live and (#key + #value) or 0)
    if live and (#key > maxKeyBytes or newKeys > maxKeys or newBytes > maxBytes) then
      outcomes[#outcomes + 1] = 2
    else
      if live then redis.call('HSET', values, key, value) else redis.call('HDEL', values, key) end
      redis.call('HSET', stamps, key, string.format('%d %d %s', seconds, nanos, device))
      version = redis.call('HINCRBY', state, 'version', 1)
      redis.call('ZADD', versions, version, key)
      keys, bytes = newKeys, newBytes
      outcomes[#outcomes + 1] = 0
      changed[#changed + 1] = key
    end
  end
end

if version then
  redis.call('HSET', state, 'keys', keys, 'bytes', bytes)
  redis.call('PUBLISH', channel, cjson.encode({version = version, keys = changed}))
end
return outcomes
)lua";

// Every key written after a version, read in one step so that each value matches its
// version. KEYS: versions, values. ARGV: the version. Answers key, version, value-or-nil
// triples in version order.
inline constexpr const char* kChangesScript = R"lua(
local rows = redis.call('ZRANGEBYSCORE', KEYS[1], '(' .. ARGV[1], '+inf', 'WITHSCORES')
local out = {}
for i = 1, #rows, 2 do
  out[#out + 1] = rows[i]
  out[#out + 1] = rows[i + 1]
  out[#out + 1] = redis.call('HGET', KEYS[2], rows[i])
end
return out
)lua";

}  // namespace quorin::platform::redis
