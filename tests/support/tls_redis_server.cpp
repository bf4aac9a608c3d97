#include "support/tls_redis_server.hpp"

#include <cstdlib>

namespace quorin::testing {
namespace {

std::vector<std::string> listeners(const TestCertificates& certificates, int port, int plainPort,
                                   const TlsRedisServer::Options& options) {
  return {"--port",
          std::to_string(plainPort),
          "--tls-port",
          std::to_string(port),
          "--bind",
          "127.0.0.1",
          "-::1",
          "--tls-cert-file",
          certificates.file(options.certificate + ".pem").string(),
          "--tls-key-file",
          certificates.file("server.key").string(),
          "--tls-ca-cert-file",
          certificates.file("ca.pem").string(),
          "--tls-auth-clients",
          options.clientCertificates ? "yes" : "no"};
}

}  // namespace

std::unique_ptr<TestCertificates> TestCertificates::make() {
  std::unique_ptr<TestCertificates> made(new TestCertificates);
  auto command = std::string(QRN_MAKE_TEST_CERTIFICATES) + " '" + made->directory_.path().string() +
                 "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return nullptr;
  return made;
}

TlsRedisServer::TlsRedisServer(const TestCertificates& certificates,
                               const std::filesystem::path& directory, const Options& options)
    : certificates_(certificates),
      port_(freeTcpPort()),
      plainPort_(options.plainToo ? freeTcpPort() : 0),
      server_(directory, options.password, listeners(certificates, port_, plainPort_, options)) {}

std::string TlsRedisServer::url(const std::string& account, const std::string& credentials,
                                const std::string& query) const {
  return urlVia(port_, account, credentials, query);
}

std::string TlsRedisServer::urlVia(int port, const std::string& account,
                                   const std::string& credentials, const std::string& query) const {
  return "rediss://" + credentials + "localhost:" + std::to_string(port) + "/0?account=" + account +
         "&ca=" + certificates_.file("ca.pem").string() + query;
}

bool tlsRequired() {
  return std::getenv("QRN_REQUIRE_REDIS") || std::getenv("QRN_REQUIRE_TLS");
}

}  // namespace quorin::testing
