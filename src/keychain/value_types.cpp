#include "keychain/value_types.hpp"

#include <array>
#include <utility>

namespace quorin::keychain {
namespace {

namespace sec = platform::sec;

template <typename Enum>
struct Row {
  Enum value;
  std::string_view raw;
  std::string_view description;
};

// Rows in declaration order, so a case's row is at its own index.
constexpr Row<ItemClass> kItemClasses[] = {
    {ItemClass::genericPassword, sec::kSecClassGenericPassword, "GenericPassword"},
    {ItemClass::internetPassword, sec::kSecClassInternetPassword, "InternetPassword"},
};

constexpr Row<ProtocolType> kProtocols[] = {
    {ProtocolType::ftp, sec::kSecAttrProtocolFTP, "FTP"},
    {ProtocolType::ftpAccount, sec::kSecAttrProtocolFTPAccount, "FTPAccount"},
    {ProtocolType::http, sec::kSecAttrProtocolHTTP, "HTTP"},
    {ProtocolType::irc, sec::kSecAttrProtocolIRC, "IRC"},
    {ProtocolType::nntp, sec::kSecAttrProtocolNNTP, "NNTP"},
    {ProtocolType::pop3, sec::kSecAttrProtocolPOP3, "POP3"},
    {ProtocolType::smtp, sec::kSecAttrProtocolSMTP, "SMTP"},
    {ProtocolType::socks, sec::kSecAttrProtocolSOCKS, "SOCKS"},
    {ProtocolType::imap, sec::kSecAttrProtocolIMAP, "IMAP"},
    {ProtocolType::ldap, sec::kSecAttrProtocolLDAP, "LDAP"},
    {ProtocolType::appleTalk, sec::kSecAttrProtocolAppleTalk, "AppleTalk"},
    {ProtocolType::afp, sec::kSecAttrProtocolAFP, "AFP"},
    {ProtocolType::telnet, sec::kSecAttrProtocolTelnet, "Telnet"},
    {ProtocolType::ssh, sec::kSecAttrProtocolSSH, "SSH"},
    {ProtocolType::ftps, sec::kSecAttrProtocolFTPS, "FTPS"},
    {ProtocolType::https, sec::kSecAttrProtocolHTTPS, "HTTPS"},
    {ProtocolType::httpProxy, sec::kSecAttrProtocolHTTPProxy, "HTTPProxy"},
    {ProtocolType::httpsProxy, sec::kSecAttrProtocolHTTPSProxy, "HTTPSProxy"},
    {ProtocolType::ftpProxy, sec::kSecAttrProtocolFTPProxy, "FTPProxy"},
    {ProtocolType::smb, sec::kSecAttrProtocolSMB, "SMB"},
    {ProtocolType::rtsp, sec::kSecAttrProtocolRTSP, "RTSP"},
    {ProtocolType::rtspProxy, sec::kSecAttrProtocolRTSPProxy, "RTSPProxy"},
    {ProtocolType::daap, sec::kSecAttrProtocolDAAP, "DAAP"},
    {ProtocolType::eppc, sec::kSecAttrProtocolEPPC, "EPPC"},
    {ProtocolType::ipp, sec::kSecAttrProtocolIPP, "IPP"},
    {ProtocolType::nntps, sec::kSecAttrProtocolNNTPS, "NNTPS"},
    {ProtocolType::ldaps, sec::kSecAttrProtocolLDAPS, "LDAPS"},
    {ProtocolType::telnetS, sec::kSecAttrProtocolTelnetS, "TelnetS"},
    {ProtocolType::imaps, sec::kSecAttrProtocolIMAPS, "IMAPS"},
    {ProtocolType::ircs, sec::kSecAttrProtocolIRCS, "IRCS"},
    {ProtocolType::pop3S, sec::kSecAttrProtocolPOP3S, "POP3S"},
};

constexpr Row<AuthenticationType> kAuthenticationTypes[] = {
    {AuthenticationType::ntlm, sec::kSecAttrAuthenticationTypeNTLM, "NTLM"},
    {AuthenticationType::msn, sec::kSecAttrAuthenticationTypeMSN, "MSN"},
    {AuthenticationType::dpa, sec::kSecAttrAuthenticationTypeDPA, "DPA"},
    {AuthenticationType::rpa, sec::kSecAttrAuthenticationTypeRPA, "RPA"},
    {AuthenticationType::httpBasic, sec::kSecAttrAuthenticationTypeHTTPBasic, "HTTPBasic"},
    {AuthenticationType::httpDigest, sec::kSecAttrAuthenticationTypeHTTPDigest, "HTTPDigest"},
    {AuthenticationType::htmlForm, sec::kSecAttrAuthenticationTypeHTMLForm, "HTMLForm"},
    {AuthenticationType::default_, sec::kSecAttrAuthenticationTypeDefault, "Default"},
};

constexpr Row<Accessibility> kAccessibilities[] = {
    {Accessibility::whenUnlocked, sec::kSecAttrAccessibleWhenUnlocked, "WhenUnlocked"},
    {Accessibility::afterFirstUnlock, sec::kSecAttrAccessibleAfterFirstUnlock, "AfterFirstUnlock"},
    {Accessibility::always, sec::kSecAttrAccessibleAlways, "Always"},
    {Accessibility::whenPasscodeSetThisDeviceOnly,
     sec::kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly, "WhenPasscodeSetThisDeviceOnly"},
    {Accessibility::whenUnlockedThisDeviceOnly, sec::kSecAttrAccessibleWhenUnlockedThisDeviceOnly,
     "WhenUnlockedThisDeviceOnly"},
    {Accessibility::afterFirstUnlockThisDeviceOnly,
     sec::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly, "AfterFirstUnlockThisDeviceOnly"},
    {Accessibility::alwaysThisDeviceOnly, sec::kSecAttrAccessibleAlwaysThisDeviceOnly,
     "AlwaysThisDeviceOnly"},
};

template <typename Enum>
constexpr auto& rows() {
  if constexpr (std::is_same_v<Enum, ItemClass>) return kItemClasses;
  if constexpr (std::is_same_v<Enum, ProtocolType>) return kProtocols;
  if constexpr (std::is_same_v<Enum, AuthenticationType>) return kAuthenticationTypes;
  if constexpr (std::is_same_v<Enum, Accessibility>) return kAccessibilities;
}

template <typename Enum>
const Row<Enum>& rowOf(Enum value) {
  return rows<Enum>()[static_cast<std::size_t>(value)];
}

}  // namespace

template <typename Enum>
std::optional<Enum> fromRawValue(std::string_view raw) {
  for (const auto& row : rows<Enum>()) {
    if (row.raw == raw) return row.value;
  }
  return std::nullopt;
}

template std::optional<ItemClass> fromRawValue<ItemClass>(std::string_view);
template std::optional<ProtocolType> fromRawValue<ProtocolType>(std::string_view);
template std::optional<AuthenticationType> fromRawValue<AuthenticationType>(std::string_view);
template std::optional<Accessibility> fromRawValue<Accessibility>(std::string_view);

template <ValueType Enum>
std::string_view rawValue(Enum value) {
  return rowOf(value).raw;
}

template <ValueType Enum>
std::string_view description(Enum value) {
  return rowOf(value).description;
}

template std::string_view rawValue(ItemClass);
template std::string_view rawValue(ProtocolType);
template std::string_view rawValue(AuthenticationType);
template std::string_view rawValue(Accessibility);
template std::string_view description(ItemClass);
template std::string_view description(ProtocolType);
template std::string_view description(AuthenticationType);
template std::string_view description(Accessibility);

template <typename Enum, std::size_t N>
constexpr bool inDeclarationOrder(const Row<Enum> (&table)[N]) {
  for (std::size_t i = 0; i < N; ++i)
    if (static_cast<std::size_t>(table[i].value) != i) return false;
  return true;
}

// rowOf() indexes the tables by case.
static_assert(inDeclarationOrder(kItemClasses) && inDeclarationOrder(kProtocols) &&
              inDeclarationOrder(kAuthenticationTypes) && inDeclarationOrder(kAccessibilities));

}  // namespace quorin::keychain
