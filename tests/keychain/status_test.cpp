#include "keychain/status.hpp"

#include <gtest/gtest.h>

#include <set>

#include "support/diagnostics_capture.hpp"
#include "support/in_memory_platform.hpp"

namespace quorin::keychain {
namespace {

// The lines statusError writes to the platform's diagnostic sink (standard output).
std::string capturedLine(std::int32_t code, Status* status) {
  testing::InMemoryPlatform platform;
  testing::DiagnosticsCapture diagnostics;
  *status = statusError(platform, code).status();
  return diagnostics.text();
}

TEST(StatusTest, LookupsByCode) {
  EXPECT_EQ(statusFromCode(0), Status::success);
  EXPECT_EQ(description(Status::success), "No error.");
  EXPECT_EQ(statusFromCode(12345), Status::unexpectedError);
  EXPECT_EQ(errorCode(statusFromCode(12345)), -99999);
  EXPECT_EQ(description(Status::unexpectedError), "Unexpected error has occurred.");
  EXPECT_EQ(statusFromRawValue(12345), std::nullopt);
  EXPECT_EQ(statusFromRawValue(-99999), Status::unexpectedError);
  EXPECT_EQ(statusFromRawValue(-25299), Status::duplicateItem);
  EXPECT_EQ(statusFromRawValue(-25290), std::nullopt) << "just outside a run";
  EXPECT_EQ(statusFromRawValue(-25321), std::nullopt);
}

TEST(StatusTest, RunsFallByOnePerCase) {
  EXPECT_EQ(rawValue(Status::serviceNotAvailable), -67585);
  EXPECT_EQ(rawValue(Status::conversionError), -67594);
  EXPECT_EQ(rawValue(Status::timestampRevocationNotification), -67898);
  EXPECT_EQ(rawValue(Status::notAvailable), -25291);
  EXPECT_EQ(rawValue(Status::inDarkWake), -25320);
  EXPECT_EQ(rawValue(Status::interactionNotAllowed), -25308);
  EXPECT_EQ(rawValue(Status::missingEntitlement), -34018);
  EXPECT_EQ(rawValue(Status::upgradePending), -34019);
  EXPECT_EQ(rawValue(Status::otrIDTooNew), -25329);
  EXPECT_EQ(rawValue(Status::pkcs12VerifyFailure), -25264);
  EXPECT_EQ(caseName(Status::returnPersitentRefUnsupported), "returnPersitentRefUnsupported");
  EXPECT_EQ(caseName(Status::invalidTupleCredendtials), "invalidTupleCredendtials");
}

TEST(StatusTest, EveryCodeRoundTripsAndEveryMessageIsOneSentence) {
  std::set<std::int32_t> codes;
  for (std::int32_t code = -100000; code <= 1; ++code) {
    auto status = statusFromRawValue(code);
    if (!status) continue;
    codes.insert(code);
    EXPECT_EQ(rawValue(*status), code);
    auto message = description(*status);
    if (*status == Status::internalComponent) {
      EXPECT_EQ(message, "");
    } else {
      EXPECT_FALSE(message.empty()) << code;
      EXPECT_EQ(message.find('\n'), std::string_view::npos) << code;
    }
  }
  EXPECT_EQ(codes.size(), 403u);
}

TEST(StatusTest, StatusErrorWritesTheDiagnosticLine) {
  Status status{};
  EXPECT_EQ(capturedLine(-25300, &status),
            "OSStatus error:[-25300] The specified item could not be found in the keychain.\n");
  EXPECT_EQ(status, Status::itemNotFound);
  EXPECT_EQ(capturedLine(-128, &status), "") << "userCanceled is silent";
  EXPECT_EQ(status, Status::userCanceled);
  EXPECT_EQ(capturedLine(1, &status), "OSStatus error:[-99999] Unexpected error has occurred.\n");
  EXPECT_EQ(status, Status::unexpectedError);
  EXPECT_EQ(capturedLine(-2070, &status), "OSStatus error:[-2070] \n");
}

TEST(StatusTest, BridgesToThePlatformError) {
  auto error = toPlatformError(Status::duplicateItem);
  EXPECT_EQ(error.domain, "com.velmarothenskald.QuorinKeychain.error");
  EXPECT_EQ(error.code, -25299);
  EXPECT_EQ(error.localizedDescription(), "The specified item already exists in the keychain.");
  EXPECT_EQ(errorUserInfo(Status::internalComponent).at("NSLocalizedDescription"),
            formats::Value(""));
  EXPECT_EQ(errorDomain(), QuorinKeychainErrorDomain);
}

}  // namespace
}  // namespace quorin::keychain
