#include "platform/redis/redis_url.hpp"

#include <algorithm>
#include <charconv>

namespace quorin::platform::redis {
namespace {

constexpr std::string_view kTcpScheme = "redis://";
constexpr std::string_view kTlsScheme = "rediss://";
constexpr std::string_view kUnixScheme = "unix://";
constexpr std::size_t kMaxAccountBytes = 128;

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> percentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int high = hexDigit(text[i + 1]);
    int low = hexDigit(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

bool parseNumber(std::string_view text, int low, int high, int& value) {
  auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), value);
  return code == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

bool parseUserInfo(std::string_view info, RedisEndpoint& endpoint, std::string& error) {
  auto colon = info.find(':');
  auto user = percentDecoded(info.substr(0, colon));
  if (!user) return (error = "the user name has a bad percent escape", false);
  endpoint.user = *user;
  if (colon == std::string_view::npos) return true;
  auto password = percentDecoded(info.substr(colon + 1));
  if (!password) return (error = "the password has a bad percent escape", false);
  endpoint.password = *password;
  return true;
}

bool parseFile(std::string_view name, std::string_view value, RedisEndpoint& endpoint,
               std::string& error) {
  if (!endpoint.tls) return (error = "'" + std::string(name) + "' needs a rediss:// URL", false);
  auto decoded = percentDecoded(value);
  if (!decoded || decoded->empty())
    return (error = "'" + std::string(name) + "' must name a file", false);
  auto& file = name == "ca"     ? endpoint.caFile
               : name == "cert" ? endpoint.certificateFile
                                : endpoint.keyFile;
  file = *decoded;
  return true;
}

bool parseHostPort(std::string_view hostPort, RedisEndpoint& endpoint, std::string& error);

bool parseSeed(std::string_view value, RedisEndpoint& endpoint, std::string& error) {
  RedisEndpoint seed;
  auto decoded = percentDecoded(value);
  if (!decoded || !parseHostPort(*decoded, seed, error) || seed.host.empty()) {
    error = "'node' must be host:port" + (error.empty() ? "" : ": " + error);
    return false;
  }
  endpoint.seeds.emplace_back(seed.host, seed.port);
  return true;
}

bool parseParameter(std::string_view name, std::string_view value, RedisEndpoint& endpoint,
                    std::string& error) {
  if (name == "account") {
    auto decoded = percentDecoded(value);
    if (!decoded || !isAccountName(*decoded))
      return (error = "the account must be 1 to 128 letters, digits, '-', '_' or '.'", false);
    endpoint.account = *decoded;
    return true;
  }
  if (name == "db" && !endpoint.socketPath.empty()) {
    if (!parseNumber(value, 0, 1 << 20, endpoint.database))
      return (error = "the database must be a number", false);
    return true;
  }
  if (name == "ca" || name == "cert" || name == "key")
    return parseFile(name, value, endpoint, error);
  if (name == "node") return parseSeed(value, endpoint, error);
  return (error = "unknown parameter '" + std::string(name) + "'", false);
}

bool parseQuery(std::string_view query, RedisEndpoint& endpoint, std::string& error) {
  while (!query.empty()) {
    auto amp = query.find('&');
    auto pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    auto equals = pair.find('=');
    auto value = equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
    if (!parseParameter(pair.substr(0, equals), value, endpoint, error)) return false;
  }
  if (endpoint.certificateFile.empty() != endpoint.keyFile.empty())
    return (error = "'cert' and 'key' go together", false);
  return true;
}

bool parseHostPort(std::string_view hostPort, RedisEndpoint& endpoint, std::string& error) {
  std::string_view port;
  if (hostPort.starts_with('[')) {
    auto close = hostPort.find(']');
    if (close == std::string_view::npos) return (error = "an IPv6 host lacks its ']'", false);
    endpoint.host = hostPort.substr(1, close - 1);
    auto rest = hostPort.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(':'))
      return (error = "unexpected text after the host", false);
    port = rest.empty() ? rest : rest.substr(1);
  } else {
    auto colon = hostPort.rfind(':');
    endpoint.host = hostPort.substr(0, colon);
    if (colon != std::string_view::npos) port = hostPort.substr(colon + 1);
  }
  if (endpoint.host.empty()) return (error = "the URL names no host", false);
  // Such a host resolves nowhere, and would reach the terminal in every message about it.
  if (std::any_of(endpoint.host.begin(), endpoint.host.end(),
                  [](unsigned char c) { return c < 0x20 || c == 0x7f; }))
    return (error = "the host holds a control character", false);
  if (!port.empty() && !parseNumber(port, 1, 65535, endpoint.port))
    return (error = "the port must be a number from 1 to 65535", false);
  return true;
}

// Schemes are case-insensitive, as everywhere else a location is read.
std::string_view schemeOf(std::string_view url) {
  auto lowered = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (auto scheme : kAccountUrlSchemes) {
    if (url.size() >= scheme.size() &&
        std::equal(scheme.begin(), scheme.end(), url.begin(),
                   [&](char wanted, char given) { return wanted == lowered(given); }))
      return scheme;
  }
  return {};
}

std::optional<RedisEndpoint> parse(std::string_view url, std::string& error) {
  auto scheme = schemeOf(url);
  if (scheme.empty()) {
    error = "not a URL of a supported scheme (" + describeAccountUrlSchemes() +
            "); a directory is named by its path";
    return std::nullopt;
  }
  RedisEndpoint endpoint;
  endpoint.tls = scheme == kTlsScheme;
  auto rest = url.substr(scheme.size());
  auto question = rest.find('?');
  auto query = question == std::string_view::npos ? std::string_view() : rest.substr(question + 1);
  rest = rest.substr(0, question);
  // The last '@' ends the user info: a password may hold '@' unescaped.
  if (auto at = rest.rfind('@'); at != std::string_view::npos) {
    if (!parseUserInfo(rest.substr(0, at), endpoint, error)) return std::nullopt;
    rest = rest.substr(at + 1);
  }
  if (scheme == kUnixScheme) {
    auto path = percentDecoded(rest);
    if (!path || !path->starts_with('/')) {
      error = "a unix:// URL needs an absolute socket path";
      return std::nullopt;
    }
    endpoint.socketPath = *path;
  } else {
    auto slash = rest.find('/');
    if (!parseHostPort(rest.substr(0, slash), endpoint, error)) return std::nullopt;
    auto database = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (!database.empty() && !parseNumber(database, 0, 1 << 20, endpoint.database)) {
      error = "the database must be a number";
      return std::nullopt;
    }
  }
  if (!parseQuery(query, endpoint, error)) return std::nullopt;
  return endpoint;
}

}  // namespace

std::string describeAccountUrlSchemes() {
  std::string text;
  for (auto scheme : kAccountUrlSchemes) {
    bool last = scheme == std::end(kAccountUrlSchemes)[-1];
    text += (text.empty() ? "" : last ? " or " : ", ") + std::string(scheme);
  }
  return text;
}

bool isAccountName(std::string_view name) {
  if (name.empty() || name.size() > kMaxAccountBytes) return false;
  for (char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || c == '.';
    if (!plain) return false;
  }
  return true;
}

bool isRedisUrl(std::string_view location) {
  return !schemeOf(location).empty();
}

std::optional<RedisEndpoint> parseRedisUrl(std::string_view url, std::string& error) {
  auto endpoint = parse(url, error);
  if (endpoint && endpoint->account.empty()) {
    error = "the URL names no ?account=";
    return std::nullopt;
  }
  return endpoint;
}

std::optional<RedisEndpoint> parseRedisServerUrl(std::string_view url, std::string& error) {
  auto endpoint = parse(url, error);
  if (endpoint && !endpoint->account.empty()) {
    error = "a server's URL names no ?account=";
    return std::nullopt;
  }
  return endpoint;
}

std::string maskedUrl(std::string_view url) {
  std::string masked(url);
  auto question = url.find('?');
  auto authority = url.substr(0, question);
  auto at = authority.rfind('@');
  auto scheme = authority.find("://");
  auto colon = authority.find(':', scheme == std::string_view::npos ? 0 : scheme + 3);
  if (at != std::string_view::npos && colon < at)
    masked.replace(colon + 1, at - colon - 1, at - colon - 1, '*');
  for (auto position = question; position != std::string_view::npos;
       position = url.find('&', position + 1)) {
    auto pair = url.substr(position + 1, url.find('&', position + 1) - position - 1);
    auto equals = pair.find('=');
    auto name = pair.substr(0, equals);
    if (equals == std::string_view::npos || (name != "ca" && name != "cert" && name != "key"))
      continue;
    auto value = position + 1 + equals + 1;
    masked.replace(value, pair.size() - equals - 1, pair.size() - equals - 1, '*');
  }
  return masked;
}

std::string RedisEndpoint::describe() const {
  auto text = identity();
  for (const auto* file : {&caFile, &certificateFile, &keyFile}) {
    if (file->empty()) continue;
    text += text.find('?') == std::string::npos ? '?' : '&';
    text += (file == &caFile ? "ca" : file == &certificateFile ? "cert" : "key");
    text += "=***";
  }
  return text;
}

std::string RedisEndpoint::identity() const {
  std::string text = !socketPath.empty() ? std::string(kUnixScheme)
                     : tls               ? std::string(kTlsScheme)
                                         : std::string(kTcpScheme);
  if (!user.empty() || password) {
    text += user;
    if (password) text += ":***";
    text += '@';
  }
  std::string query = account.empty() ? "" : "?account=" + account;
  if (socketPath.empty()) {
    bool v6 = host.find(':') != std::string::npos;
    text += (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/" +
            std::to_string(database) + query;
  } else {
    if (database != 0) query += (query.empty() ? "?db=" : "&db=") + std::to_string(database);
    text += socketPath + query;
  }
  return text;
}

}  // namespace quorin::platform::redis
