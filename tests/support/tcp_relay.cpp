#include "support/tcp_relay.hpp"

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

#include "support/loopback_listener.hpp"

namespace quorin::testing {
namespace {

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

}  // namespace

TcpRelay::TcpRelay(int target) : target_(target) {
  listener_ = listenOnLoopback(port_);
  if (listener_ < 0) return;
  wake_ = ::eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this] { run(); });
}

TcpRelay::~TcpRelay() {
  if (thread_.joinable()) {
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wake_, &one, sizeof one);
    thread_.join();
  }
  for (auto [client, server] : pairs_) {
    ::close(client);
    ::close(server);
  }
  if (wake_ >= 0) ::close(wake_);
  ::close(listener_);
}

std::string TcpRelay::captured() const {
  std::lock_guard lock(mutex_);
  return captured_;
}

void TcpRelay::run() {
  while (true) {
    std::vector<pollfd> fds{{wake_, POLLIN, 0}, {listener_, POLLIN, 0}};
    for (auto [client, server] : pairs_) {
      fds.push_back({client, POLLIN, 0});
      fds.push_back({server, POLLIN, 0});
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents) return;
    if (fds[1].revents) accept();
    for (std::size_t i = 0; i + 2 < fds.size(); i += 2) {
      auto [client, server] = pairs_[i / 2];
      bool open = (!fds[i + 2].revents || forward(client, server)) &&
                  (!fds[i + 3].revents || forward(server, client));
      if (open) continue;
      ::close(client);
      ::close(server);
      pairs_[i / 2] = {-1, -1};
    }
    std::erase_if(pairs_, [](const Pair& pair) { return pair.client < 0; });
  }
}

void TcpRelay::accept() {
  int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0) return;
  int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  auto address = loopback(target_);
  if (::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(client);
    ::close(server);
    return;
  }
  pairs_.push_back({client, server});
}

bool TcpRelay::forward(int from, int to) {
  char buffer[16 * 1024];
  auto got = ::read(from, buffer, sizeof buffer);
  if (got <= 0) return false;
  {
    std::lock_guard lock(mutex_);
    captured_.append(buffer, static_cast<std::size_t>(got));
  }
  return ::send(to, buffer, static_cast<std::size_t>(got), MSG_NOSIGNAL) == got;
}

}  // namespace quorin::testing
