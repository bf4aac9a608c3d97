#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "formats/value.hpp"
#include "platform/error.hpp"

namespace quorin::platform {

using OSStatus = std::int32_t;

inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecParam = -50;
inline constexpr OSStatus errSecDuplicateItem = -25299;
inline constexpr OSStatus errSecItemNotFound = -25300;
inline constexpr OSStatus errSecInteractionNotAllowed = -25308;
inline constexpr OSStatus errSecInvalidKeychain = -25295;
inline constexpr OSStatus errSecNotAvailable = -25291;
inline constexpr OSStatus errSecAuthFailed = -25293;
inline constexpr OSStatus errSecDecode = -26275;
inline constexpr OSStatus errSecUnimplemented = -4;
inline constexpr OSStatus errSecIO = -36;

// The keys and string values of keychain dictionaries.
namespace sec {
inline constexpr std::string_view kSecClass = "class";
inline constexpr std::string_view kSecClassGenericPassword = "genp";
inline constexpr std::string_view kSecClassInternetPassword = "inet";

inline constexpr std::string_view kSecAttrAccessGroup = "agrp";
inline constexpr std::string_view kSecAttrAccessible = "pdmn";
inline constexpr std::string_view kSecAttrAccessControl = "accc";
inline constexpr std::string_view kSecAttrSynchronizable = "sync";
inline constexpr std::string_view kSecAttrCreationDate = "cdat";
inline constexpr std::string_view kSecAttrModificationDate = "mdat";
inline constexpr std::string_view kSecAttrDescription = "desc";
inline constexpr std::string_view kSecAttrComment = "icmt";
inline constexpr std::string_view kSecAttrCreator = "crtr";
inline constexpr std::string_view kSecAttrType = "type";
inline constexpr std::string_view kSecAttrLabel = "labl";
inline constexpr std::string_view kSecAttrIsInvisible = "invi";
inline constexpr std::string_view kSecAttrIsNegative = "nega";
inline constexpr std::string_view kSecAttrAccount = "acct";
inline constexpr std::string_view kSecAttrService = "svce";
inline constexpr std::string_view kSecAttrGeneric = "gena";
inline constexpr std::string_view kSecAttrSecurityDomain = "sdmn";
inline constexpr std::string_view kSecAttrServer = "srvr";
inline constexpr std::string_view kSecAttrProtocol = "ptcl";
inline constexpr std::string_view kSecAttrAuthenticationType = "atyp";
inline constexpr std::string_view kSecAttrPort = "port";
inline constexpr std::string_view kSecAttrPath = "path";

inline constexpr std::string_view kSecValueData = "v_Data";
inline constexpr std::string_view kSecValueRef = "v_Ref";
inline constexpr std::string_view kSecValuePersistentRef = "v_PersistentRef";

inline constexpr std::string_view kSecReturnData = "r_Data";
inline constexpr std::string_view kSecReturnAttributes = "r_Attributes";
inline constexpr std::string_view kSecReturnRef = "r_Ref";
inline constexpr std::string_view kSecReturnPersistentRef = "r_PersistentRef";

inline constexpr std::string_view kSecMatchLimit = "m_Limit";

inline constexpr std::string_view kSecSharedPassword = "spwd";

inline constexpr std::string_view kSecUseOperationPrompt = "u_OpPrompt";
inline constexpr std::string_view kSecUseAuthenticationUI = "u_AuthUI";
inline constexpr std::string_view kSecUseAuthenticationUIFail = "u_AuthUIF";
inline constexpr std::string_view kSecUseAuthenticationContext = "u_AuthCtx";

inline constexpr std::string_view kSecAttrAccessibleWhenUnlocked = "ak";
inline constexpr std::string_view kSecAttrAccessibleAfterFirstUnlock = "ck";
inline constexpr std::string_view kSecAttrAccessibleAlways = "dk";
inline constexpr std::string_view kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly = "akpu";
inline constexpr std::string_view kSecAttrAccessibleWhenUnlockedThisDeviceOnly = "aku";
inline constexpr std::string_view kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly = "cku";
inline constexpr std::string_view kSecAttrAccessibleAlwaysThisDeviceOnly = "dku";

inline constexpr std::string_view kSecAttrProtocolFTP = "ftp ";
inline constexpr std::string_view kSecAttrProtocolFTPAccount = "ftpa";
inline constexpr std::string_view kSecAttrProtocolHTTP = "http";
inline constexpr std::string_view kSecAttrProtocolIRC = "irc ";
inline constexpr std::string_view kSecAttrProtocolNNTP = "nntp";
inline constexpr std::string_view kSecAttrProtocolPOP3 = "pop3";
inline constexpr std::string_view kSecAttrProtocolSMTP = "smtp";
inline constexpr std::string_view kSecAttrProtocolSOCKS = "sox ";
inline constexpr std::string_view kSecAttrProtocolIMAP = "imap";
inline constexpr std::string_view kSecAttrProtocolLDAP = "ldap";
inline constexpr std::string_view kSecAttrProtocolAppleTalk = "atlk";
inline constexpr std::string_view kSecAttrProtocolAFP = "afp ";
inline constexpr std::string_view kSecAttrProtocolTelnet = "teln";
inline constexpr std::string_view kSecAttrProtocolSSH = "ssh ";
inline constexpr std::string_view kSecAttrProtocolFTPS = "ftps";
inline constexpr std::string_view kSecAttrProtocolHTTPS = "htps";
inline constexpr std::string_view kSecAttrProtocolHTTPProxy = "htpx";
inline constexpr std::string_view kSecAttrProtocolHTTPSProxy = "htsx";
inline constexpr std::string_view kSecAttrProtocolFTPProxy = "ftpx";
inline constexpr std::string_view kSecAttrProtocolSMB = "smb ";
inline constexpr std::string_view kSecAttrProtocolRTSP = "rtsp";
inline constexpr std::string_view kSecAttrProtocolRTSPProxy = "rtsx";
inline constexpr std::string_view kSecAttrProtocolDAAP = "daap";
inline constexpr std::string_view kSecAttrProtocolEPPC = "eppc";
inline constexpr std::string_view kSecAttrProtocolIPP = "ipp ";
inline constexpr std::string_view kSecAttrProtocolNNTPS = "ntps";
inline constexpr std::string_view kSecAttrProtocolLDAPS = "ldps";
inline constexpr std::string_view kSecAttrProtocolTelnetS = "tels";
inline constexpr std::string_view kSecAttrProtocolIMAPS = "imps";
inline constexpr std::string_view kSecAttrProtocolIRCS = "ircs";
inline constexpr std::string_view kSecAttrProtocolPOP3S = "pops";

inline constexpr std::string_view kSecAttrAuthenticationTypeNTLM = "ntlm";
inline constexpr std::string_view kSecAttrAuthenticationTypeMSN = "msna";
inline constexpr std::string_view kSecAttrAuthenticationTypeDPA = "dpaa";
inline constexpr std::string_view kSecAttrAuthenticationTypeRPA = "rpaa";
inline constexpr std::string_view kSecAttrAuthenticationTypeHTTPBasic = "http";
inline constexpr std::string_view kSecAttrAuthenticationTypeHTTPDigest = "httd";
inline constexpr std::string_view kSecAttrAuthenticationTypeHTMLForm = "form";
inline constexpr std::string_view kSecAttrAuthenticationTypeDefault = "dflt";

// Access-control flags the platform knows; any other bit is refused.
inline constexpr std::uint64_t kKnownAccessControlFlags =
    0x1 | 0x2 | 0x8 | 0x10 | 0x20 | 0x4000 | 0x8000 | 0x40000000 | 0x80000000;
}  // namespace sec

// A constant that dictionaries carry as a value and compare by identity.
class Constant final : public formats::Object {
 public:
  explicit Constant(std::string_view label) : name(label) {}
  std::string_view name;
};

const formats::ObjectRef& kSecAttrSynchronizableAny();
const formats::ObjectRef& kSecMatchLimitOne();
const formats::ObjectRef& kSecMatchLimitAll();

// What SecAccessControlCreateWithFlags makes: a protection class and policy flags.
class AccessControl final : public formats::Object {
 public:
  AccessControl(std::string protectionClass, std::uint64_t policyFlags)
      : protection(std::move(protectionClass)), flags(policyFlags) {}
  std::string protection;
  std::uint64_t flags;
};

// A local-authentication context handed through to queries.
class AuthenticationContext final : public formats::Object {};

// Completions of the shared web credential calls. Each runs once, on a thread of the
// platform's, never on the caller's.
using SharedCredentialsCompletion =
    std::function<void(std::optional<formats::Array> credentials, std::optional<Error> error)>;
using SharedCredentialCompletion = std::function<void(std::optional<Error> error)>;

// The platform keychain. Safe to use from any thread: each call is atomic, and the store
// serialises concurrent callers.
class KeychainServices {
 public:
  virtual ~KeychainServices() = default;
  // `result` nullptr stands for no result out-parameter.
  virtual OSStatus secItemCopyMatching(const formats::Dictionary& query,
                                       std::optional<formats::Value>* result) = 0;
  virtual OSStatus secItemAdd(const formats::Dictionary& attributes) = 0;
  virtual OSStatus secItemUpdate(const formats::Dictionary& query,
                                 const formats::Dictionary& attributes) = 0;
  virtual OSStatus secItemDelete(const formats::Dictionary& query) = 0;
  // None, with `error` set, for a protection class or flag set the platform refuses.
  virtual std::shared_ptr<const AccessControl> secAccessControlCreateWithFlags(
      std::string_view protection, std::uint64_t flags, std::optional<Error>* error) = 0;

  // The shared web credentials of `domain` for `account`, where an absent one matches any:
  // dictionaries of kSecAttrServer, kSecAttrAccount and kSecSharedPassword. None found is an
  // errSecItemNotFound error.
  virtual void secRequestSharedWebCredential(const std::optional<std::string>& domain,
                                             const std::optional<std::string>& account,
                                             SharedCredentialsCompletion completion) = 0;
  // Keeps `password` for the domain and account; an absent password deletes the credential.
  virtual void secAddSharedWebCredential(const std::string& domain, const std::string& account,
                                         const std::optional<std::string>& password,
                                         SharedCredentialCompletion completion) = 0;
  // A new password: four groups of three letters and digits joined by "-", with at least
  // one digit and one capital letter.
  virtual std::string secCreateSharedWebCredentialPassword() = 0;
};

}  // namespace quorin::platform
