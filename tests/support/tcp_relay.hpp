#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorin::testing {

// Forwards every connection to a loopback port on to `target`, and keeps every byte that
// crosses, both ways: what someone on the network would see.
class TcpRelay {
 public:
  explicit TcpRelay(int target);
  ~TcpRelay();
  TcpRelay(const TcpRelay&) = delete;
  TcpRelay& operator=(const TcpRelay&) = delete;

  int port() const { return port_; }
  std::string captured() const;

 private:
  struct Pair {
    int client;
    int server;
  };
  void run();
  void accept();
  // False when either side closed.
  bool forward(int from, int to);

  int target_;
  int listener_ = -1;
  int port_ = -1;
  int wake_ = -1;
  std::vector<Pair> pairs_;  // used by the relay's thread only
  mutable std::mutex mutex_;
  std::string captured_;
  std::thread thread_;
};

}  // namespace quorin::testing
