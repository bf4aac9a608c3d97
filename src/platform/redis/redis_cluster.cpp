#include "platform/redis/redis_cluster.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace quorin::platform::redis {
namespace {

constexpr int kSlots = 16384;
constexpr std::size_t kMostHostBytes = 255;

// CRC16-CCITT (XMODEM), as the cluster hashes keys.
std::uint16_t crc16(std::string_view bytes) {
  std::uint16_t crc = 0;
  for (unsigned char byte : bytes) {
    crc ^= static_cast<std::uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

bool parseNumber(std::string_view text, int low, int high, int& value) {
  auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), value);
  return code == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  while (true) {
    auto at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

// The letters of a host name or an IP address (an IPv6 one with its zone). A server that
// names a node otherwise is not followed there, and its words never reach a message.
bool isHostName(std::string_view host) {
  return !host.empty() && host.size() <= kMostHostBytes &&
         std::all_of(host.begin(), host.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '.' || c == '_' || c == ':' || c == '%';
         });
}

// "host:port", the host maybe an IPv6 address; false when it is no such thing.
bool parseHostPort(std::string_view text, ClusterNode& node) {
  auto colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  auto host = text.substr(0, colon);
  if (host.starts_with('[') && host.ends_with(']')) host = host.substr(1, host.size() - 2);
  if (!isHostName(host)) return false;
  node.host = host;
  return parseNumber(text.substr(colon + 1), 1, 65535, node.port);
}

// "ip:port@busport[,hostname[,aux=value]...]": the hostname, when the node announces one,
// is its name.
bool parseAddress(std::string_view text, ClusterNode& node) {
  auto comma = text.find(',');
  auto hostname = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  hostname = hostname.substr(0, hostname.find(','));
  if (!parseHostPort(text.substr(0, std::min(text.find('@'), comma)), node)) return false;
  if (hostname.empty()) return true;
  if (!isHostName(hostname)) return false;
  node.host = hostname;
  return true;
}

bool hasFlag(std::string_view flags, std::string_view flag) {
  for (auto each : split(flags, ','))
    if (each == flag) return true;
  return false;
}

// A slot or a range of slots; importing and migrating marks ("[5->-id]") name no owner.
bool coversSlot(std::string_view range, int slot) {
  if (range.starts_with('[')) return false;
  auto dash = range.find('-');
  int first = 0, last = 0;
  if (!parseNumber(range.substr(0, dash), 0, kSlots - 1, first)) return false;
  if (dash == std::string_view::npos) return first == slot;
  return parseNumber(range.substr(dash + 1), first, kSlots - 1, last) && first <= slot &&
         slot <= last;
}

struct Line {
  std::string_view id, master;
  ClusterNode node;
  bool failing = false;
  bool serves = false;
};

}  // namespace

int keySlot(std::string_view key) {
  auto open = key.find('{');
  if (open != std::string_view::npos) {
    auto close = key.find('}', open + 1);
    if (close != std::string_view::npos && close > open + 1)
      key = key.substr(open + 1, close - open - 1);
  }
  return crc16(key) % kSlots;
}

std::string ClusterNode::address() const {
  bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<SlotServers> parseClusterNodes(std::string_view text, int slot, std::string& error) {
  std::vector<Line> lines;
  for (auto row : split(text, '\n')) {
    if (row.ends_with('\r')) row.remove_suffix(1);
    if (row.empty()) continue;
    auto fields = split(row, ' ');
    if (fields.size() < 8)
      return (error = "a line of the cluster's nodes is too short", std::nullopt);
    Line line{fields[0], fields[3], {}, false, false};
    // A node without an address is one no device can reach.
    if (hasFlag(fields[2], "noaddr") || hasFlag(fields[2], "handshake")) continue;
    if (!parseAddress(fields[1], line.node))
      return (error = "a node of the cluster names no host and port a device can reach",
              std::nullopt);
    line.node.master = hasFlag(fields[2], "master");
    line.failing = hasFlag(fields[2], "fail") || hasFlag(fields[2], "fail?");
    for (std::size_t i = 8; i < fields.size(); ++i)
      line.serves = line.serves || (line.node.master && coversSlot(fields[i], slot));
    lines.push_back(std::move(line));
  }
  if (lines.empty()) return (error = "the cluster names no node", std::nullopt);
  SlotServers servers;
  std::string_view masterId;
  for (const auto& line : lines) {
    servers.nodes.push_back(line.node);
    if (line.serves) servers.master = line.node, masterId = line.id;
  }
  for (const auto& line : lines) {
    if (servers.master && !line.node.master && !line.failing && line.master == masterId)
      servers.replicas.push_back(line.node);
  }
  return servers;
}

std::optional<Redirection> redirectionOf(std::string_view error) {
  auto parts = split(error, ' ');
  if (parts.size() != 3 || (parts[0] != "MOVED" && parts[0] != "ASK")) return std::nullopt;
  Redirection redirection{parts[0] == "ASK", {}};
  int slot = 0;
  if (!parseNumber(parts[1], 0, kSlots - 1, slot) || !parseHostPort(parts[2], redirection.to))
    return std::nullopt;
  return redirection;
}

RedisEndpoint nodeEndpoint(const RedisEndpoint& seed, const ClusterNode& node) {
  RedisEndpoint endpoint = seed;
  endpoint.socketPath.clear();
  endpoint.host = node.host;
  endpoint.port = node.port;
  endpoint.seeds.clear();
  return endpoint;
}

}  // namespace quorin::platform::redis
