#include <gtest/gtest.h>

#include <thread>

#include "keychain/keychain.hpp"
#include "support/diagnostics_capture.hpp"
#include "support/in_memory_platform.hpp"

namespace quorin::keychain {
namespace {

namespace sec = platform::sec;
using Credential = Keychain::Credential;
using Error = std::optional<Keychain::SharedCredentialError>;

struct Answer {
  std::vector<Credential> credentials;
  Error error;
  std::thread::id thread;
  int calls = 0;
};

class SharedWebCredentialsTest : public ::testing::Test {
 protected:
  template <typename Body>
  std::string output(Body body) {
    testing::DiagnosticsCapture diagnostics;
    body();
    platform->keychain.waitForCompletions();
    return diagnostics.text();
  }
  Keychain::CredentialsCallback into(Answer& answer) {
    return [&answer](std::vector<Credential> credentials, Error error) {
      answer = {std::move(credentials), std::move(error), std::this_thread::get_id(),
                answer.calls + 1};
    };
  }
  void answerNext(std::optional<formats::Array> records, std::optional<platform::Error> error) {
    platform->keychain.nextCredentialAnswer = {std::move(records), std::move(error)};
  }
  static std::optional<std::int64_t> codeOf(const Error& error) {
    if (!error) return std::nullopt;
    if (const auto* status = std::get_if<Status>(&*error)) return rawValue(*status);
    return std::get<platform::Error>(*error).code;
  }

  std::shared_ptr<testing::InMemoryPlatform> platform =
      std::make_shared<testing::InMemoryPlatform>();
  Keychain::Ptr web =
      Keychain::withServer(platform, "https://example.com/login", ProtocolType::https);
};

TEST_F(SharedWebCredentialsTest, AServerWithoutHostAnswersParamAtOnce) {
  auto hostless = Keychain::withServer(platform, "mailto:someone", ProtocolType::https);
  std::optional<std::string> account = "x", password = "x";
  Error error;
  bool called = false;
  auto line = output([&] {
    hostless->getSharedPassword(
        [&](auto a, auto p, auto e) { account = a, password = p, error = e, called = true; });
    EXPECT_TRUE(called) << "before the call returns";
  });
  EXPECT_EQ(account, std::nullopt);
  EXPECT_EQ(password, std::nullopt);
  EXPECT_EQ(codeOf(error), -50);
  EXPECT_TRUE(std::holds_alternative<Status>(*error));
  EXPECT_EQ(line,
            "OSStatus error:[-50] One or more parameters passed to a function were not valid.\n");

  int answered = 0;
  hostless->getSharedPassword("a", [&](auto p, auto e) { answered += !p && codeOf(e) == -50; });
  hostless->setSharedPassword("p", "a", [&](auto e) { answered += codeOf(e) == -50; });
  hostless->removeSharedPassword("a", [&](auto e) { answered += codeOf(e) == -50; });
  EXPECT_EQ(answered, 3);
  EXPECT_TRUE(platform->keychain.credentialWrites.empty());

  auto generic = Keychain::withService(platform, "svc");
  EXPECT_THROW(generic->getSharedPassword([](auto, auto, auto) {}), std::logic_error);
}

TEST_F(SharedWebCredentialsTest, RecordsMapToCredentialsInOrder) {
  answerNext(
      formats::Array{
          formats::Dictionary{{std::string(sec::kSecAttrServer), "example.com"},
                              {std::string(sec::kSecAttrAccount), "ann"}},
          formats::Value("not a record"),
          formats::Dictionary{{std::string(sec::kSecAttrAccount), "bob"},
                              {std::string(sec::kSecSharedPassword), formats::Value(7)}},
          formats::Dictionary{{std::string(sec::kSecAttrServer), "example.com"},
                              {std::string(sec::kSecAttrAccount), "cy"},
                              {std::string(sec::kSecSharedPassword), "pw"},
                              {"extra", "ignored"}},
      },
      std::nullopt);
  Answer answer;
  auto line = output([&] { Keychain::requestSharedWebCredential(*platform, into(answer)); });
  EXPECT_EQ(line, "");
  EXPECT_EQ(answer.calls, 1);
  ASSERT_EQ(answer.credentials.size(), 4u);
  EXPECT_EQ(answer.credentials[0], (Credential{{"server", "example.com"}, {"account", "ann"}}));
  EXPECT_TRUE(answer.credentials[1].empty());
  EXPECT_TRUE(answer.credentials[2].empty()) << "a value that is no string";
  EXPECT_EQ(answer.credentials[3],
            (Credential{{"server", "example.com"}, {"account", "cy"}, {"password", "pw"}}));
  EXPECT_EQ(answer.error, std::nullopt);
  EXPECT_NE(answer.thread, std::this_thread::get_id());
}

TEST_F(SharedWebCredentialsTest, EmptyAnswersAndErrors) {
  answerNext(formats::Array{}, std::nullopt);
  Answer empty;
  output([&] { Keychain::requestSharedWebCredential(*platform, "example.com", into(empty)); });
  EXPECT_TRUE(empty.credentials.empty());
  EXPECT_EQ(empty.error, std::nullopt);

  answerNext(formats::Array{}, std::nullopt);
  int calls = 0;
  std::optional<std::string> account = "x", password = "x";
  Error error;
  output([&] {
    web->getSharedPassword(
        [&](auto a, auto p, auto e) { account = a, password = p, error = e, ++calls; });
  });
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(account, std::nullopt);
  EXPECT_EQ(password, std::nullopt);
  EXPECT_EQ(error, std::nullopt);

  // Not found passes on silently; any other error is reported on its way.
  answerNext(std::nullopt, platform::Error{"NSOSStatusErrorDomain", -25300, {}});
  Answer missing;
  EXPECT_EQ(
      output([&] { Keychain::requestSharedWebCredential(*platform, "a.com", "u", into(missing)); }),
      "");
  EXPECT_TRUE(missing.credentials.empty());
  EXPECT_EQ(codeOf(missing.error), -25300);

  answerNext(
      std::nullopt,
      platform::Error{"NSOSStatusErrorDomain",
                      -25291,
                      {{std::string(platform::kLocalizedDescriptionKey), "Not available."}}});
  Answer failed;
  EXPECT_EQ(output([&] { Keychain::requestSharedWebCredential(*platform, into(failed)); }),
            "error:[-25291] Not available.\n");
  EXPECT_EQ(codeOf(failed.error), -25291);
}

TEST_F(SharedWebCredentialsTest, WritesGoToTheServersHost) {
  Error error = Status::unexpectedError;
  auto written =
      output([&] { web->setSharedPassword("secret", "ann", [&](auto e) { error = e; }); });
  EXPECT_EQ(written, "");
  EXPECT_EQ(error, std::nullopt);
  ASSERT_EQ(platform->keychain.credentialWrites.size(), 1u);
  EXPECT_EQ(platform->keychain.credentialWrites[0].domain, "example.com");
  EXPECT_EQ(platform->keychain.credentialWrites[0].password, "secret");

  output([&] { web->setSharedPassword("other", "bob", [](auto) {}); });
  std::optional<std::string> password;
  output([&] { web->getSharedPassword("bob", [&](auto p, auto) { password = p; }); });
  EXPECT_EQ(password, "other");

  output([&] { web->removeSharedPassword("ann", [&](auto e) { error = e; }); });
  EXPECT_EQ(platform->keychain.credentialWrites.back().password, std::nullopt);
  EXPECT_EQ(platform->keychain.credentialWrites.back().account, "ann");

  // A refused write reaches the callback as the platform's error, with no line.
  platform->keychain.nextCredentialWriteError =
      platform::Error{"NSOSStatusErrorDomain", -25291, {}};
  EXPECT_EQ(output([&] { web->setSharedPassword("p", "cy", [&](auto e) { error = e; }); }), "");
  EXPECT_EQ(codeOf(error), -25291);
  EXPECT_TRUE(std::holds_alternative<platform::Error>(*error));

  EXPECT_EQ(Keychain::generatePassword(*platform), "abc-DEF-123-ghi");
}

}  // namespace
}  // namespace quorin::keychain
