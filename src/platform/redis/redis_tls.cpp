#include "platform/redis/redis_tls.hpp"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

namespace quorin::platform::redis {
namespace {

using namespace std::chrono_literals;

constexpr int kChunk = 16 * 1024;
constexpr off_t kLargestKeyFile = 1024 * 1024;
// How long a server that never answered the handshake has to answer a plain PING.
constexpr auto kPlainTextGrace = 250ms;
constexpr std::string_view kPlainText =
    "the server does not speak TLS: it answers in Redis's plain protocol (rediss:// needs the "
    "port of its TLS listener)";

// A TLS record starts with its type, 20 to 24; a plain server's reply with '+' or '-'.
bool looksPlain(std::string_view received) {
  return !received.empty() && (received[0] == '+' || received[0] == '-');
}

struct ContextFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// The reason of the oldest error this thread's call left, without file names.
std::string openSslReason() {
  auto code = ERR_peek_error();
  const char* reason = code ? ERR_reason_error_string(code) : nullptr;
  ERR_clear_error();
  return reason ? reason : "unknown error";
}

std::string certificateProblem(long result, const std::string& host) {
  switch (result) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "it does not name the host " + host;
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "it has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "it is not valid yet";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
      return "no trusted authority signed it (the authority is ca=, else the system's)";
    default:
      return X509_verify_cert_error_string(result);
  }
}

// OpenSSL opens these files blocking and reads them whole, so a FIFO would hold the
// connection for ever: only a regular file of a sane size is handed over.
std::optional<std::string> unusableFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::strerror(errno);
  if (!S_ISREG(info.st_mode)) return "it is not a regular file";
  if (info.st_size > kLargestKeyFile) return "it is larger than 1 MiB";
  return std::nullopt;
}

// Files that cannot be used are named by their parameter, never by their path.
bool useFiles(SSL_CTX* context, const RedisEndpoint& endpoint, std::string& error) {
  for (auto [path, name] : {std::pair{&endpoint.caFile, "the authority (ca=)"},
                            {&endpoint.certificateFile, "the device's certificate (cert=)"},
                            {&endpoint.keyFile, "the device's key (key=)"}}) {
    if (auto why = path->empty() ? std::nullopt : unusableFile(*path))
      return (error = std::string(name) + " cannot be used: " + *why, false);
  }
  if (endpoint.caFile.empty()
          ? SSL_CTX_set_default_verify_paths(context) != 1
          : SSL_CTX_load_verify_locations(context, endpoint.caFile.c_str(), nullptr) != 1)
    return (error = "the authority (ca=) cannot be used: " + openSslReason(), false);
  if (endpoint.certificateFile.empty()) return true;
  if (SSL_CTX_use_certificate_chain_file(context, endpoint.certificateFile.c_str()) != 1)
    return (error = "the device's certificate (cert=) cannot be used: " + openSslReason(), false);
  if (SSL_CTX_use_PrivateKey_file(context, endpoint.keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
    return (error = "the device's key (key=) cannot be used: " + openSslReason(), false);
  if (SSL_CTX_check_private_key(context) != 1)
    return (error = "the device's key (key=) does not match its certificate (cert=)", false);
  return true;
}

// Called when the server asks for the device's certificate, whether it has one or not: a
// server that then ends the connection before answering anything refused it (or its
// absence), and whether the device hears its alert or only a reset is a race, so the device
// says why itself.
int noteCertificateAsked(SSL* ssl, void* /*argument*/) {
  *static_cast<bool*>(SSL_get_app_data(ssl)) = true;
  return 1;
}

// Whether a plain PING, on a connection of its own, draws an answer in Redis's plain
// protocol: a server that does not speak TLS never answers a TLS hello, since Redis reads
// it as a command that a byte of 0 cuts short of its end of line.
bool answersInPlainText(const RedisEndpoint& endpoint) {
  auto deadline = std::chrono::steady_clock::now() + kPlainTextGrace;
  std::string error, answer;
  auto socket = Socket::connectTcp(endpoint.host, endpoint.port, deadline, error);
  return socket && socket->send("PING\r\n", deadline) && socket->receive(answer, deadline) &&
         looksPlain(answer);
}

std::unique_ptr<SSL_CTX, ContextFree> makeContext(const RedisEndpoint& endpoint,
                                                  std::string& error) {
  ERR_clear_error();
  std::unique_ptr<SSL_CTX, ContextFree> context(SSL_CTX_new(TLS_client_method()));
  if (!context || SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) != 1) {
    error = "TLS is not available: " + openSslReason();
    return nullptr;
  }
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_cert_cb(context.get(), noteCertificateAsked, nullptr);
  if (!useFiles(context.get(), endpoint, error)) return nullptr;
  return context;
}

bool isAddress(const std::string& host) {
  unsigned char address[sizeof(in6_addr)];
  return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// The name the certificate must carry; a host name also goes out for the server to pick
// its certificate by (an address may not, by the protocol).
bool expectHost(SSL* ssl, const std::string& host) {
  if (isAddress(host)) return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
  SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  return SSL_set1_host(ssl, host.c_str()) == 1 && SSL_set_tlsext_host_name(ssl, host.c_str()) == 1;
}

}  // namespace

struct TlsStream::Session {
  std::unique_ptr<SSL_CTX, ContextFree> context;
  std::unique_ptr<SSL, SslFree> ssl;
  BIO* incoming;  // owned by ssl
  BIO* outgoing;  // owned by ssl
  std::string host;
  bool ownCertificate = false;  // the device has one to give
  bool certificateAsked = false;
  bool heard = false;     // the server has sent anything at all
  bool answered = false;  // the server has sent data since the handshake
};

std::unique_ptr<TlsStream> TlsStream::open(std::unique_ptr<Socket> socket,
                                           const RedisEndpoint& endpoint, Deadline deadline,
                                           std::string& error, bool& refused) {
  auto session = std::make_unique<Session>();
  refused = true;
  session->context = makeContext(endpoint, error);
  if (!session->context) return nullptr;
  session->ssl.reset(SSL_new(session->context.get()));
  session->incoming = BIO_new(BIO_s_mem());
  session->outgoing = BIO_new(BIO_s_mem());
  if (!session->ssl || !session->incoming || !session->outgoing) {
    BIO_free(session->incoming);
    BIO_free(session->outgoing);
    error = "TLS is not available: " + openSslReason();
    return nullptr;
  }
  SSL_set_bio(session->ssl.get(), session->incoming, session->outgoing);
  SSL_set_connect_state(session->ssl.get());
  SSL_set_app_data(session->ssl.get(), &session->certificateAsked);
  session->host = endpoint.host;
  session->ownCertificate = !endpoint.certificateFile.empty();
  if (!expectHost(session->ssl.get(), endpoint.host)) {
    error = "TLS cannot check the host name " + endpoint.host;
    return nullptr;
  }
  std::unique_ptr<TlsStream> stream(new TlsStream(std::move(socket), std::move(session)));
  if (!stream->handshake(endpoint, deadline)) {
    error = stream->error();
    refused = stream->refused();
    return nullptr;
  }
  return stream;
}

TlsStream::TlsStream(std::unique_ptr<Socket> socket, std::unique_ptr<Session> session)
    : socket_(std::move(socket)), session_(std::move(session)) {}

TlsStream::~TlsStream() = default;

bool TlsStream::handshake(const RedisEndpoint& endpoint, Deadline deadline) {
  auto* ssl = session_->ssl.get();
  while (true) {
    ERR_clear_error();
    int result = SSL_do_handshake(ssl);
    if (result == 1) return flush(deadline);
    if (SSL_get_error(ssl, result) != SSL_ERROR_WANT_READ)
      return sessionFailed(result, "the TLS handshake with " + endpoint.host + " failed");
    if (!flush(deadline)) return false;
    if (!wait(deadline)) return unanswered(endpoint);
    if (!takeCiphertext()) return false;
  }
}

// A server that took the connection and never said a word may be one that speaks plain
// text, which lasts; else it is merely slow.
bool TlsStream::unanswered(const RedisEndpoint& endpoint) {
  if (session_->heard || !answersInPlainText(endpoint)) return false;
  return fail(std::string(kPlainText), true);
}

// A certificate refused, or any failure the protocol reports, lasts: the same server sends
// the same certificate and alerts next time. A failure of the socket does not.
bool TlsStream::sessionFailed(int result, std::string_view what) {
  auto* ssl = session_->ssl.get();
  if (auto verified = SSL_get_verify_result(ssl); verified != X509_V_OK) {
    ERR_clear_error();
    return fail(
        "the server's certificate was refused: " + certificateProblem(verified, session_->host),
        true);
  }
  bool protocol = SSL_get_error(ssl, result) == SSL_ERROR_SSL;
  return failUnanswered(std::string(what) + ": " + openSslReason(), protocol);
}

// A server that asked for a certificate the device lacks, and requires one, ends the
// connection in or just after the handshake; whether its alert or only a reset arrives first
// is a race, so either is the same lasting refusal. A server for which a certificate is
// optional answers, and its later failures are its own.
bool TlsStream::failUnanswered(std::string why, bool lasting) {
  if (session_->certificateAsked && !session_->answered) {
    return fail(session_->ownCertificate
                    ? "the server refused the device's certificate (cert=)"
                    : "the server asks for the device's certificate (cert= and key=)",
                true);
  }
  return fail(std::move(why), lasting);
}

bool TlsStream::flush(Deadline deadline) {
  char buffer[kChunk];
  while (BIO_ctrl_pending(session_->outgoing) > 0) {
    int got = BIO_read(session_->outgoing, buffer, sizeof buffer);
    if (got <= 0) break;
    if (!socket_->send({buffer, static_cast<std::size_t>(got)}, deadline))
      return failUnanswered(socket_->error(), false);
  }
  return true;
}

bool TlsStream::takeCiphertext() {
  std::string ciphertext;
  if (!socket_->receiveReady(ciphertext)) return failUnanswered(socket_->error(), false);
  if (ciphertext.empty()) return true;
  if (!std::exchange(session_->heard, true) && looksPlain(ciphertext))
    return fail(std::string(kPlainText), true);
  return BIO_write(session_->incoming, ciphertext.data(), static_cast<int>(ciphertext.size())) ==
             static_cast<int>(ciphertext.size()) ||
         fail("out of memory");
}

bool TlsStream::send(std::string_view bytes, Deadline deadline) {
  if (!bytes.empty()) {
    ERR_clear_error();
    int written = SSL_write(session_->ssl.get(), bytes.data(), static_cast<int>(bytes.size()));
    if (written <= 0) return sessionFailed(written, "the TLS connection failed");
  }
  return flush(deadline);
}

bool TlsStream::receiveReady(std::string& into) {
  if (!takeCiphertext()) return false;
  auto had = into.size();
  char buffer[kChunk];
  while (true) {
    ERR_clear_error();
    int got = SSL_read(session_->ssl.get(), buffer, sizeof buffer);
    if (got > 0) {
      session_->answered = true;
      into.append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    auto code = SSL_get_error(session_->ssl.get(), got);
    if (code == SSL_ERROR_WANT_READ) return true;
    if (code == SSL_ERROR_ZERO_RETURN)
      return into.size() > had || failUnanswered("the server closed the connection", false);
    return sessionFailed(got, "the TLS connection failed");
  }
}

}  // namespace quorin::platform::redis
