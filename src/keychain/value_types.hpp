#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/keychain_services.hpp"

namespace quorin::keychain {

enum class ItemClass { genericPassword, internetPassword };

enum class ProtocolType {
  ftp,
  ftpAccount,
  http,
  irc,
  nntp,
  pop3,
  smtp,
  socks,
  imap,
  ldap,
  appleTalk,
  afp,
  telnet,
  ssh,
  ftps,
  https,
  httpProxy,
  httpsProxy,
  ftpProxy,
  smb,
  rtsp,
  rtspProxy,
  daap,
  eppc,
  ipp,
  nntps,
  ldaps,
  telnetS,
  imaps,
  ircs,
  pop3S,
};

// `default_`: "default" is a C++ keyword.
enum class AuthenticationType { ntlm, msn, dpa, rpa, httpBasic, httpDigest, htmlForm, default_ };

enum class Accessibility {
  whenUnlocked,
  afterFirstUnlock,
  always,
  whenPasscodeSetThisDeviceOnly,
  whenUnlockedThisDeviceOnly,
  afterFirstUnlockThisDeviceOnly,
  alwaysThisDeviceOnly,
};

template <typename Enum>
concept ValueType = std::same_as<Enum, ItemClass> || std::same_as<Enum, ProtocolType> ||
    std::same_as<Enum, AuthenticationType> || std::same_as<Enum, Accessibility>;

// The platform constant that is the case's raw value, and back.
template <ValueType Enum>
std::string_view rawValue(Enum value);

template <typename Enum>
std::optional<Enum> fromRawValue(std::string_view raw);

template <ValueType Enum>
std::string_view description(Enum value);

// Access-control flags; any bit pattern is a value, and reaches the platform unchanged.
struct AuthenticationPolicy {
  std::uint64_t rawValue = 0;

  static const AuthenticationPolicy userPresence, touchIDAny, biometryAny, touchIDCurrentSet,
      biometryCurrentSet, devicePasscode, watch, privateKeyUsage, applicationPassword;
  // "or" and "and" are C++ operator keywords.
  static const AuthenticationPolicy or_, and_;

  constexpr AuthenticationPolicy() = default;
  constexpr explicit AuthenticationPolicy(std::uint64_t raw) : rawValue(raw) {}
  constexpr AuthenticationPolicy(std::initializer_list<AuthenticationPolicy> members) {
    for (auto member : members) rawValue |= member.rawValue;
  }

  constexpr AuthenticationPolicy union_(AuthenticationPolicy o) const {
    return AuthenticationPolicy(rawValue | o.rawValue);
  }
  constexpr AuthenticationPolicy intersection(AuthenticationPolicy o) const {
    return AuthenticationPolicy(rawValue & o.rawValue);
  }
  constexpr AuthenticationPolicy symmetricDifference(AuthenticationPolicy o) const {
    return AuthenticationPolicy(rawValue ^ o.rawValue);
  }
  constexpr AuthenticationPolicy subtracting(AuthenticationPolicy o) const {
    return AuthenticationPolicy(rawValue & ~o.rawValue);
  }
  constexpr void formUnion(AuthenticationPolicy o) { rawValue |= o.rawValue; }
  constexpr void formIntersection(AuthenticationPolicy o) { rawValue &= o.rawValue; }
  constexpr void formSymmetricDifference(AuthenticationPolicy o) { rawValue ^= o.rawValue; }
  constexpr void subtract(AuthenticationPolicy o) { rawValue &= ~o.rawValue; }

  constexpr bool contains(AuthenticationPolicy m) const { return isSuperset(m); }
  constexpr bool isSuperset(AuthenticationPolicy m) const {
    return (rawValue & m.rawValue) == m.rawValue;
  }
  constexpr bool isSubset(AuthenticationPolicy o) const { return (rawValue & ~o.rawValue) == 0; }
  constexpr bool isDisjoint(AuthenticationPolicy o) const { return (rawValue & o.rawValue) == 0; }
  constexpr bool isEmpty() const { return rawValue == 0; }

  // Sets the bits of m; (whether any of them was missing, m).
  constexpr std::pair<bool, AuthenticationPolicy> insert(AuthenticationPolicy m) {
    bool missing = !contains(m);
    formUnion(m);
    return {missing, m};
  }
  // Clears the bits of m; the bits of m that were set, or none.
  constexpr std::optional<AuthenticationPolicy> remove(AuthenticationPolicy m) {
    auto present = intersection(m);
    subtract(m);
    return present.isEmpty() ? std::nullopt : std::optional(present);
  }
  // Sets the bits of m; the bits of m that were set before, or none.
  constexpr std::optional<AuthenticationPolicy> update(AuthenticationPolicy m) {
    auto present = intersection(m);
    formUnion(m);
    return present.isEmpty() ? std::nullopt : std::optional(present);
  }

  friend constexpr bool operator==(AuthenticationPolicy, AuthenticationPolicy) = default;
};

inline constexpr AuthenticationPolicy AuthenticationPolicy::userPresence{std::uint64_t{0x1}};
inline constexpr AuthenticationPolicy AuthenticationPolicy::touchIDAny{std::uint64_t{0x2}};
inline constexpr AuthenticationPolicy AuthenticationPolicy::biometryAny{std::uint64_t{0x2}};
inline constexpr AuthenticationPolicy AuthenticationPolicy::touchIDCurrentSet{std::uint64_t{0x8}};
inline constexpr AuthenticationPolicy AuthenticationPolicy::biometryCurrentSet{std::uint64_t{0x8}};
inline constexpr AuthenticationPolicy AuthenticationPolicy::devicePasscode{std::uint64_t{0x10}};
inline constexpr AuthenticationPolicy AuthenticationPolicy::watch{std::uint64_t{0x20}};
inline constexpr AuthenticationPolicy AuthenticationPolicy::or_{std::uint64_t{0x4000}};
inline constexpr AuthenticationPolicy AuthenticationPolicy::and_{std::uint64_t{0x8000}};
inline constexpr AuthenticationPolicy AuthenticationPolicy::privateKeyUsage{
    std::uint64_t{0x40000000}};
inline constexpr AuthenticationPolicy AuthenticationPolicy::applicationPassword{
    std::uint64_t{0x80000000}};

}  // namespace quorin::keychain
