// The Redis account over TLS, against a real redis-server serving TLS only, with
// certificates made for the run: values cross, certificates that fail their check stop the
// device before it says anything, and what crosses the network reveals nothing.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "platform/linux/cloud_account_location.hpp"
#include "platform/redis/redis_cloud_account.hpp"
#include "platform/redis/redis_connection.hpp"
#include "platform/redis/redis_url.hpp"
#include "support/cloud_device.hpp"
#include "support/tcp_relay.hpp"
#include "support/tls_redis_server.hpp"

namespace quorin::platform::posix {
namespace {

using namespace std::chrono_literals;
using redis::RedisCloudAccount;
using testing::TlsRedisServer;

class RedisTlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { certificates = testing::TestCertificates::make(); }
  static void TearDownTestSuite() { certificates.reset(); }

  // A server of the test's own; none, with `missing` saying why, without the tools.
  TlsRedisServer* serve(const TlsRedisServer::Options& options = {}) {
    if (!certificates) {
      missing = "the openssl tool would not make certificates";
      return nullptr;
    }
    server = std::make_unique<TlsRedisServer>(*certificates, root.path(), options);
    if (server->start()) return server.get();
    missing = "redis-server would not serve TLS";
    return nullptr;
  }

  std::unique_ptr<testing::CloudDevice> device(const std::string& url, const std::string& name) {
    return std::make_unique<testing::CloudDevice>(
        std::make_shared<CloudAccountSelection>(url, linux::cloudAccountKinds()),
        root.path() / name, center);
  }

  // What was sent since the last call, by anyone but the test's one connection of its own
  // (whose CONFIG RESETSTAT of the last call counts, as a sign that the answer is real).
  std::string commandsSeen() {
    if (!admin_) admin_ = testing::administer(server->admin().socket(), server->admin().password());
    auto stats = admin_ ? admin_->command({"INFO", "commandstats"}) : nullptr;
    std::string seen = stats ? std::string(redis::replyText(*stats)) : "no answer";
    if (admin_) admin_->command({"CONFIG", "RESETSTAT"});
    return seen;
  }

  static inline std::unique_ptr<testing::TestCertificates> certificates;
  std::string missing;
  testing::TemporaryDirectory root;
  std::unique_ptr<TlsRedisServer> server;
  std::unique_ptr<redis::RedisConnection> admin_;
  common::LocalNotificationCenter center;
};

// Skips without redis-server or openssl, unless the run requires them.
#define SERVE_OR_SKIP(server, ...)                 \
  auto* server = serve(__VA_ARGS__);               \
  if (!server) {                                   \
    if (testing::tlsRequired()) FAIL() << missing; \
    GTEST_SKIP() << missing;                       \
  }

TEST_F(RedisTlsTest, AValueWrittenByOneDeviceReachesAnother) {
  SERVE_OR_SKIP(tls);
  auto phone = device(tls->url("shared"), "phone");
  auto tablet = device(tls->url("shared"), "tablet");
  phone->store.setObject(formats::Value("over tls"), "k");
  ASSERT_TRUE(phone->store.exchange()) << phone->store.status().account.offlineReason;
  ASSERT_TRUE(tablet->waitForChange(20s));
  EXPECT_EQ(tablet->text("k"), "over tls");
  EXPECT_TRUE(tablet->store.status().account.connected);
}

struct BadCertificate {
  const char* served;   // the server's certificate
  const char* trusted;  // the device's ca=, or none for the system's authorities
  const char* problem;
};

class RedisTlsRefusalTest : public RedisTlsTest,
                            public ::testing::WithParamInterface<BadCertificate> {};

INSTANTIATE_TEST_SUITE_P(
    Certificates, RedisTlsRefusalTest,
    ::testing::Values(BadCertificate{"elsewhere", "ca.pem", "it does not name the host localhost"},
                      BadCertificate{"server", "stranger-ca.pem", "no trusted authority signed it"},
                      BadCertificate{"server", nullptr, "no trusted authority signed it"},
                      BadCertificate{"expired", "ca.pem", "it has expired"}),
    [](const auto& test) {
      return std::string(test.param.served) + "_" +
             (!test.param.trusted                           ? "system"
              : std::string(test.param.trusted) == "ca.pem" ? "ours"
                                                            : "stranger");
    });

// The device must not send its password, nor anything else, to a server it cannot trust;
// and it must not keep knocking.
TEST_P(RedisTlsRefusalTest, IsALastingRefusalWithNothingSent) {
  SERVE_OR_SKIP(tls, {GetParam().served, false, "right password"});
  auto url =
      "rediss://:right password@localhost:" + std::to_string(tls->port()) + "/0?account=refused";
  if (GetParam().trusted) url += "&ca=" + certificates->file(GetParam().trusted).string();
  commandsSeen();

  auto problem = RedisCloudAccount(url).probe();
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(
      problem->find("the server's certificate was refused: " + std::string(GetParam().problem)),
      std::string::npos)
      << *problem;
  EXPECT_EQ(problem->find("right password"), std::string::npos) << *problem;
  EXPECT_EQ(problem->find(certificates->file("").string()), std::string::npos) << *problem;

  auto phone = device(url, "phone");
  phone->store.setObject(formats::Value("kept"), "k");
  EXPECT_FALSE(phone->store.exchange());
  EXPECT_FALSE(phone->store.synchronize()) << "known to be unusable";
  EXPECT_EQ(phone->store.status().pendingWrites, 1u) << "the write waits in the journal";
  auto seen = commandsSeen();
  EXPECT_NE(seen.find("cmdstat_config"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("cmdstat_auth"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("cmdstat_ping"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("cmdstat_subscribe"), std::string::npos) << seen;
}

TEST_F(RedisTlsTest, AServerThatAsksForAClientCertificateGetsTheDevicesOwn) {
  SERVE_OR_SKIP(tls, {"server", true, std::nullopt});
  auto own = "&cert=" + certificates->file("client.pem").string() +
             "&key=" + certificates->file("client.key").string();
  RedisCloudAccount withCertificate(tls->url("clients", "", own));
  EXPECT_EQ(withCertificate.probe(), std::nullopt);
  std::optional<std::string> value;
  EXPECT_TRUE(withCertificate.current("k", value));

  auto problem = RedisCloudAccount(tls->url("clients")).probe();
  ASSERT_TRUE(problem.has_value()) << "a device without one is refused, for good";
  EXPECT_NE(problem->find("certificate"), std::string::npos) << *problem;
}

// The server ends the connection once it has checked the certificate, and whether the
// device hears its alert or only a reset is a race: either is the same lasting refusal,
// and the device's password never goes out.
TEST_F(RedisTlsTest, AServerThatRefusesTheDevicesCertificateIsALastingRefusal) {
  SERVE_OR_SKIP(tls, {"server", true, "right password"});
  auto unvouched = "&cert=" + certificates->file("unvouched.pem").string() +
                   "&key=" + certificates->file("client.key").string();
  auto url = tls->url("unvouched", ":right password@", unvouched);
  commandsSeen();
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto problem = RedisCloudAccount(url).probe();
    ASSERT_TRUE(problem.has_value());
    EXPECT_NE(problem->find("the server refused the device's certificate (cert=)"),
              std::string::npos)
        << *problem;
    EXPECT_EQ(problem->find(certificates->file("").string()), std::string::npos) << *problem;
  }
  auto seen = commandsSeen();
  EXPECT_NE(seen.find("cmdstat_config"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("cmdstat_auth"), std::string::npos) << seen;
}

// A plain server never answers a TLS hello; asked in plain text on a connection of its own,
// it shows what it is.
TEST_F(RedisTlsTest, APlainServerNamedByRedissIsALastingRefusal) {
  SERVE_OR_SKIP(tls, {"server", false, std::nullopt, true});
  auto url = tls->urlVia(tls->plainPort(), "plain");
  ReplicaUbiquitousStore phone(
      std::make_shared<CloudAccountSelection>(url, linux::cloudAccountKinds()),
      root.path() / "phone", center);
  phone.setObject(formats::Value("kept"), "k");
  EXPECT_FALSE(phone.exchange());
  auto status = phone.status();
  EXPECT_NE(status.account.problem.value_or("").find(
                "the server does not speak TLS: it answers in Redis's plain protocol"),
            std::string::npos)
      << status.account.problem.value_or(status.account.offlineReason);
  EXPECT_EQ(status.pendingWrites, 1u);
  EXPECT_FALSE(phone.synchronize()) << "known to be unusable";
}

TEST_F(RedisTlsTest, TheBytesOnTheNetworkHoldNoValueAndNoPassword) {
  const std::string password = "password-seen-by-nobody";
  const std::string value = "value-seen-by-nobody";
  SERVE_OR_SKIP(tls, {"server", false, password});
  testing::TcpRelay relay(tls->port());
  ASSERT_GT(relay.port(), 0);
  auto url = tls->urlVia(relay.port(), "captured", ":" + password + "@");
  auto phone = device(url, "phone");
  auto tablet = device(url, "tablet");
  phone->store.setObject(formats::Value(value), "k");
  ASSERT_TRUE(phone->store.exchange()) << phone->store.status().account.offlineReason;
  ASSERT_TRUE(tablet->waitForChange(20s));
  ASSERT_EQ(tablet->text("k"), value) << "the value crossed the relay";

  auto captured = relay.captured();
  EXPECT_GT(captured.size(), value.size());
  EXPECT_EQ(captured.find(password), std::string::npos);
  EXPECT_EQ(captured.find(value), std::string::npos);
  EXPECT_EQ(captured.find("FCALL"), std::string::npos);
}

// A server that goes in the middle of the handshake is out of reach, not a refusal: the
// device tries again later and keeps its writes meanwhile.
TEST_F(RedisTlsTest, AServerGoneMidHandshakeIsAnOutageNotARefusal) {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  std::thread dying([listener] {
    int client = ::accept(listener, nullptr, nullptr);
    char hello[512];
    [[maybe_unused]] auto got = ::read(client, hello, sizeof hello);  // the client's hello
    ::close(client);
  });
  RedisCloudAccount account("rediss://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) +
                            "/0?account=gone");
  EXPECT_EQ(account.probe(), std::nullopt);
  dying.join();
  ::close(listener);
  auto status = account.status();
  EXPECT_FALSE(status.connected);
  EXPECT_FALSE(status.problem.has_value());
  EXPECT_NE(status.offlineReason.find("closed the connection"), std::string::npos)
      << status.offlineReason;
}

}  // namespace
}  // namespace quorin::platform::posix
