#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "support/redis_server.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::testing {

// The certificates of a test run, made by the openssl tool with
// tests/support/make-test-certificates.sh (which lists them): an authority, certificates
// for the server (good, for another host, expired), a client's, and a stranger authority.
class TestCertificates {
 public:
  // None when the openssl tool is missing or failed.
  static std::unique_ptr<TestCertificates> make();

  std::filesystem::path file(const std::string& name) const { return directory_.path() / name; }

 private:
  TestCertificates() = default;
  TemporaryDirectory directory_;
};

// A redis-server that serves TLS only, on a free loopback port, with `certificate` (a name
// from TestCertificates: "server", "elsewhere" or "expired"); its unix socket is for the
// test's own administration.
class TlsRedisServer {
 public:
  struct Options {
    std::string certificate = "server";
    bool clientCertificates = false;  // the server asks every client for one
    std::optional<std::string> password;
    bool plainToo = false;  // also plain TCP on another free port, to compare with
  };

  TlsRedisServer(const TestCertificates& certificates, const std::filesystem::path& directory,
                 const Options& options);

  bool start() { return server_.start(); }
  int port() const { return port_; }
  int plainPort() const { return plainPort_; }
  // The account's URL on localhost, trusting the test authority, then `query` (e.g. "&cert=…").
  std::string url(const std::string& account, const std::string& credentials = "",
                  const std::string& query = "") const;
  // A rediss:// URL of any port, such as a relay's.
  std::string urlVia(int port, const std::string& account, const std::string& credentials = "",
                     const std::string& query = "") const;
  RedisServer& admin() { return server_; }

 private:
  const TestCertificates& certificates_;
  int port_;
  int plainPort_;
  RedisServer server_;
};

// Whether a test that needs redis-server and openssl must fail rather than skip.
bool tlsRequired();

}  // namespace quorin::testing
