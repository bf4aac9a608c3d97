#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quorin::testing {

// A server on loopback that speaks just enough of Redis's protocol for a test to script how
// it answers, well or badly: each command a client sends (and each connection, as an empty
// command) is given to the script, whose answer the server sends. One thread serves every
// connection, so an answer that never ends holds up no other.
class FakeRedisServer {
 public:
  using Command = std::vector<std::string>;
  struct Answer {
    static Answer send(std::string bytes);
    static Answer silence() { return {}; }
    // `first`, then `again` over and over until the client goes.
    static Answer flood(std::string first, std::string again);
    // The same, a byte at a time, a few milliseconds apart.
    static Answer drip(std::string first, std::string again);
    static Answer sendAndClose(std::string bytes);

    std::string bytes;
    std::string endless;
    bool dripping = false;
    bool close = false;
  };
  using Script = std::function<Answer(const Command& command)>;

  explicit FakeRedisServer(Script script);
  ~FakeRedisServer();
  FakeRedisServer(const FakeRedisServer&) = delete;
  FakeRedisServer& operator=(const FakeRedisServer&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& account, const std::string& scheme = "redis") const;
  // The name of every command received so far, in order.
  std::vector<std::string> received() const;

  // What a well-behaved server answers to each command a device sends; scripts fall back on it.
  static Answer polite(const Command& command);

 private:
  struct Client;
  void run();
  void accept();
  bool serve(Client& client, short events);
  bool readCommands(Client& client);
  bool write(Client& client);
  bool drip(Client& client);

  Script script_;
  int listener_ = -1;
  int port_ = -1;
  int wake_ = -1;
  std::vector<Client> clients_;  // used by the server's thread only
  mutable std::mutex mutex_;
  std::vector<std::string> received_;
  std::thread thread_;
};

// Replies in Redis's protocol.
std::string bulk(std::string_view text);
std::string array(const std::vector<std::string>& elements);
std::string integer(long long value);
std::string error(std::string_view text);

}  // namespace quorin::testing
