#include "support/fake_redis_server.hpp"

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "support/loopback_listener.hpp"

namespace quorin::testing {
namespace {

using Command = FakeRedisServer::Command;

// The number that ends at "\r\n" from `at` on, and where the line after it starts.
std::optional<long long> lineNumber(const std::string& in, std::size_t& at) {
  auto end = in.find("\r\n", at);
  if (end == std::string::npos) return std::nullopt;
  auto value = std::strtoll(in.c_str() + at, nullptr, 10);
  at = end + 2;
  return value;
}

// One command from the front of `in`, taken off it; none while it has not all arrived. A
// command in the protocol's arrays, or inline, a line of words, as redis-cli sends by hand.
std::optional<Command> takeCommand(std::string& in) {
  if (in.empty()) return std::nullopt;
  if (in[0] != '*') {
    auto end = in.find('\n');
    if (end == std::string::npos) return std::nullopt;
    Command words;
    std::string line = in.substr(0, end);
    in.erase(0, end + 1);
    for (std::size_t at = 0; at < line.size();) {
      auto space = line.find_first_of(" \r", at);
      if (space == std::string::npos) space = line.size();
      if (space > at) words.push_back(line.substr(at, space - at));
      at = space + 1;
    }
    return words;
  }
  std::size_t at = 1;
  auto count = lineNumber(in, at);
  if (!count) return std::nullopt;
  Command command;
  for (long long i = 0; i < *count; ++i) {
    if (at >= in.size()) return std::nullopt;
    ++at;  // '$'
    auto length = lineNumber(in, at);
    if (!length || at + static_cast<std::size_t>(*length) + 2 > in.size()) return std::nullopt;
    command.push_back(in.substr(at, static_cast<std::size_t>(*length)));
    at += static_cast<std::size_t>(*length) + 2;
  }
  in.erase(0, at);
  return command;
}

bool is(const Command& command, std::string_view name) {
  if (command.empty() || command[0].size() != name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(command[0][i])) != name[i]) return false;
  }
  return true;
}

}  // namespace

struct FakeRedisServer::Client {
  int fd = -1;
  std::string in;
  std::string out;
  std::size_t sent = 0;
  std::string endless;
  bool drip = false;
  std::size_t dripped = 0;
  bool closeAfter = false;
};

FakeRedisServer::Answer FakeRedisServer::Answer::send(std::string bytes) {
  Answer answer;
  answer.bytes = std::move(bytes);
  return answer;
}

FakeRedisServer::Answer FakeRedisServer::Answer::flood(std::string first, std::string again) {
  auto answer = send(std::move(first));
  answer.endless = std::move(again);
  return answer;
}

FakeRedisServer::Answer FakeRedisServer::Answer::drip(std::string first, std::string again) {
  auto answer = flood(std::move(first), std::move(again));
  answer.dripping = true;
  return answer;
}

FakeRedisServer::Answer FakeRedisServer::Answer::sendAndClose(std::string bytes) {
  auto answer = send(std::move(bytes));
  answer.close = true;
  return answer;
}

std::string bulk(std::string_view text) {
  return "$" + std::to_string(text.size()) + "\r\n" + std::string(text) + "\r\n";
}

std::string array(const std::vector<std::string>& elements) {
  std::string out = "*" + std::to_string(elements.size()) + "\r\n";
  for (const auto& element : elements) out += element;
  return out;
}

std::string integer(long long value) {
  return ":" + std::to_string(value) + "\r\n";
}

std::string error(std::string_view text) {
  return "-" + std::string(text) + "\r\n";
}

FakeRedisServer::Answer FakeRedisServer::polite(const Command& command) {
  if (command.empty()) return Answer::silence();
  if (is(command, "AUTH") || is(command, "SELECT")) return Answer::send("+OK\r\n");
  if (is(command, "PING")) return Answer::send("+PONG\r\n");
  if (is(command, "TIME")) {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    return Answer::send(array(
        {bulk(std::to_string(micros / 1'000'000)), bulk(std::to_string(micros % 1'000'000))}));
  }
  if (is(command, "HGET")) return Answer::send("$-1\r\n");
  if (is(command, "SUBSCRIBE") && command.size() == 2)
    return Answer::send(array({bulk("subscribe"), bulk(command[1]), integer(1)}));
  if (is(command, "FCALL") && command.size() >= 12) {
    std::vector<std::string> outcomes((command.size() - 12) / 5, integer(0));
    return Answer::send(array(outcomes));
  }
  if (is(command, "FCALL_RO") && command.size() > 1 && command[1] == "quorin_version")
    return Answer::send(integer(1));
  if (is(command, "FCALL_RO")) return Answer::send("*0\r\n");
  return Answer::send(error("ERR unknown command '" + command[0] + "'"));
}

FakeRedisServer::FakeRedisServer(Script script) : script_(std::move(script)) {
  listener_ = listenOnLoopback(port_);
  if (listener_ < 0) return;
  wake_ = ::eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this] { run(); });
}

FakeRedisServer::~FakeRedisServer() {
  if (thread_.joinable()) {
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wake_, &one, sizeof one);
    thread_.join();
  }
  for (const auto& client : clients_) ::close(client.fd);
  if (wake_ >= 0) ::close(wake_);
  ::close(listener_);
}

std::string FakeRedisServer::url(const std::string& account, const std::string& scheme) const {
  return scheme + "://127.0.0.1:" + std::to_string(port_) + "/0?account=" + account;
}

std::vector<std::string> FakeRedisServer::received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

void FakeRedisServer::run() {
  constexpr int kDripMilliseconds = 5;
  while (true) {
    std::vector<pollfd> fds{{wake_, POLLIN, 0}, {listener_, POLLIN, 0}};
    bool dripping = false;
    for (const auto& client : clients_) {
      bool sending = client.sent < client.out.size() || (!client.endless.empty() && !client.drip);
      dripping = dripping || client.drip;
      fds.push_back({client.fd, static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0});
    }
    if (::poll(fds.data(), fds.size(), dripping ? kDripMilliseconds : -1) < 0) continue;
    if (fds[0].revents) return;
    for (std::size_t i = 0; i < clients_.size(); ++i) {
      auto& client = clients_[i];
      bool open = (!fds[i + 2].revents || serve(client, fds[i + 2].revents)) &&
                  (!client.drip || drip(client));
      if (open) continue;
      ::close(client.fd);
      client.fd = -1;
    }
    std::erase_if(clients_, [](const Client& client) { return client.fd < 0; });
    if (fds[1].revents) accept();
  }
}

void FakeRedisServer::accept() {
  int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return;
  clients_.emplace_back().fd = fd;
  auto answer = script_({});
  auto& client = clients_.back();
  client.out = std::move(answer.bytes);
  client.endless = std::move(answer.endless);
  client.drip = answer.dripping;
  client.closeAfter = answer.close;
}

// False once the connection is done with.
bool FakeRedisServer::serve(Client& client, short events) {
  if ((events & POLLIN) && !readCommands(client)) return false;
  if (events & (POLLERR | POLLHUP) && !(events & POLLIN)) return false;
  return write(client);
}

bool FakeRedisServer::readCommands(Client& client) {
  char buffer[16 * 1024];
  auto got = ::read(client.fd, buffer, sizeof buffer);
  if (got <= 0) return false;
  client.in.append(buffer, static_cast<std::size_t>(got));
  while (auto command = takeCommand(client.in)) {
    {
      std::lock_guard lock(mutex_);
      received_.push_back(command->empty() ? "" : (*command)[0]);
    }
    auto answer = script_(*command);
    client.out.erase(0, client.sent);
    client.sent = 0;
    client.out += answer.bytes;
    client.endless = std::move(answer.endless);
    client.drip = answer.dripping;
    client.closeAfter = client.closeAfter || answer.close;
  }
  return true;
}

// A few sends at a time, so that an endless answer leaves room for the other connections.
bool FakeRedisServer::write(Client& client) {
  for (int round = 0; round < 4; ++round) {
    if (client.sent == client.out.size()) {
      if (client.endless.empty() || client.drip) return !client.closeAfter;
      client.out = client.endless;
      client.sent = 0;
    }
    auto wrote = ::send(client.fd, client.out.data() + client.sent, client.out.size() - client.sent,
                        MSG_NOSIGNAL | MSG_DONTWAIT);
    if (wrote < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    client.sent += static_cast<std::size_t>(wrote);
  }
  return true;
}

// One more byte of the endless answer, once the rest is out.
bool FakeRedisServer::drip(Client& client) {
  if (client.sent < client.out.size() || client.endless.empty()) return true;
  char next = client.endless[client.dripped++ % client.endless.size()];
  auto wrote = ::send(client.fd, &next, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
  return wrote == 1 || (wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

}  // namespace quorin::testing
