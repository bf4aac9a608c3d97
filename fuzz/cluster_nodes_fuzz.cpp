#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/redis/redis_cluster.hpp"

namespace {

using namespace quorin::platform::redis;

// A node a device may dial: a redirection naming its address names the same node again.
bool dialable(const ClusterNode& node) {
  auto again = redirectionOf("MOVED 0 " + node.address());
  return again && again->to.host == node.host && again->to.port == node.port;
}

bool sameNode(const ClusterNode& a, const ClusterNode& b) {
  return a.host == b.host && a.port == b.port && a.master == b.master;
}

}  // namespace

// What a node says of the cluster, read for the slot the first two bytes choose: refused
// with a reason, or nodes a device can dial, the slot's master among them and its replicas
// none of them masters. Any redirection the text is read as names a node it can dial too.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  int slot = (data[0] << 8 | data[1]) % 16384;
  std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  if (auto redirection = redirectionOf(text); redirection && !dialable(redirection->to))
    std::abort();
  std::string error;
  auto servers = parseClusterNodes(text, slot, error);
  if (!servers) return error.empty() ? (std::abort(), 0) : 0;
  if (servers->nodes.empty() ||
      !std::all_of(servers->nodes.begin(), servers->nodes.end(), dialable))
    std::abort();
  const auto& master = servers->master;
  auto isMaster = [&](const ClusterNode& node) { return master && sameNode(node, *master); };
  if (master &&
      (!master->master || std::none_of(servers->nodes.begin(), servers->nodes.end(), isMaster)))
    std::abort();
  if (!master && !servers->replicas.empty()) std::abort();
  for (const auto& replica : servers->replicas)
    if (replica.master || !dialable(replica)) std::abort();
  return 0;
}
