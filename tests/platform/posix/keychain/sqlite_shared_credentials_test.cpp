#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <cctype>
#include <future>
#include <set>
#include <thread>

#include "platform/posix/keychain/shared_password.hpp"
#include "platform/posix/keychain/sqlite_keychain.hpp"
#include "support/password_shape.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

struct Answer {
  std::optional<formats::Array> credentials;
  std::optional<Error> error;
  std::thread::id thread;
};

class SqliteSharedCredentialsTest : public ::testing::Test {
 protected:
  std::filesystem::path database() const { return directory.path() / "keychain.db"; }
  Answer request(const std::optional<std::string>& domain,
                 const std::optional<std::string>& account) {
    std::promise<Answer> promise;
    keychain->secRequestSharedWebCredential(domain, account, [&](auto credentials, auto error) {
      promise.set_value({std::move(credentials), std::move(error), std::this_thread::get_id()});
    });
    return promise.get_future().get();
  }
  std::optional<Error> write(const std::string& domain, const std::string& account,
                             const std::optional<std::string>& password) {
    std::promise<std::optional<Error>> promise;
    keychain->secAddSharedWebCredential(domain, account, password,
                                        [&](auto error) { promise.set_value(std::move(error)); });
    return promise.get_future().get();
  }
  static formats::Value record(const char* domain, const char* account, const char* password) {
    return formats::Value(formats::Dictionary{{std::string(sec::kSecAttrServer), domain},
                                              {std::string(sec::kSecAttrAccount), account},
                                              {std::string(sec::kSecSharedPassword), password}});
  }

  testing::TemporaryDirectory directory;
  std::unique_ptr<SqliteKeychain> keychain = std::make_unique<SqliteKeychain>(database());
};

TEST_F(SqliteSharedCredentialsTest, CredentialsByDomainAndAccount) {
  auto none = request("example.com", std::nullopt);
  EXPECT_FALSE(none.credentials);
  ASSERT_TRUE(none.error);
  EXPECT_EQ(none.error->code, errSecItemNotFound);
  EXPECT_NE(none.thread, std::this_thread::get_id());

  EXPECT_EQ(write("example.com", "bob", "one"), std::nullopt);
  EXPECT_EQ(write("example.com", "ann", "two"), std::nullopt);
  EXPECT_EQ(write("other.org", "ann", "three"), std::nullopt);
  EXPECT_EQ(write("example.com", "bob", "replaced"), std::nullopt);

  auto domain = request("example.com", std::nullopt);
  EXPECT_EQ(domain.error, std::nullopt);
  EXPECT_EQ(domain.credentials, (formats::Array{record("example.com", "ann", "two"),
                                                record("example.com", "bob", "replaced")}));
  EXPECT_EQ(request("other.org", "ann").credentials,
            (formats::Array{record("other.org", "ann", "three")}));
  EXPECT_EQ(request(std::nullopt, std::nullopt).credentials->size(), 3u);
  EXPECT_EQ(request(std::nullopt, "ann").credentials->size(), 2u);

  // An absent password deletes; deleting what is not there is not found.
  EXPECT_EQ(write("example.com", "bob", std::nullopt), std::nullopt);
  EXPECT_EQ(request("example.com", "bob").error->code, errSecItemNotFound);
  EXPECT_EQ(write("example.com", "bob", std::nullopt)->code, errSecItemNotFound);
  EXPECT_EQ(write("", "bob", "p")->code, errSecParam);
  EXPECT_EQ(write("example.com", "", "p")->code, errSecParam);

  // They are kept in the database, beside the items.
  keychain = std::make_unique<SqliteKeychain>(database());
  EXPECT_EQ(request("example.com", "ann").credentials,
            (formats::Array{record("example.com", "ann", "two")}));
}

TEST_F(SqliteSharedCredentialsTest, EachCompletionRunsOnceOffTheCallersThread) {
  constexpr int kThreads = 4;
  constexpr int kCalls = 50;
  std::atomic<int> completions{0};
  std::atomic<int> onCaller{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < kThreads; ++t) {
    callers.emplace_back([&, t] {
      auto self = std::this_thread::get_id();
      for (int i = 0; i < kCalls; ++i) {
        auto account = "user" + std::to_string(t) + "-" + std::to_string(i);
        keychain->secAddSharedWebCredential("example.com", account, "p", [&, self](auto) {
          onCaller += std::this_thread::get_id() == self;
          ++completions;
        });
        keychain->secRequestSharedWebCredential("example.com", account, [&, self](auto, auto) {
          onCaller += std::this_thread::get_id() == self;
          ++completions;
        });
      }
    });
  }
  for (auto& caller : callers) caller.join();
  // The keychain waits for what it started before it goes.
  keychain.reset();
  EXPECT_EQ(completions, 2 * kThreads * kCalls);
  EXPECT_EQ(onCaller, 0);
}

TEST(SharedPasswordTest, GeneratedPasswordsHaveThePlatformsShapeAndDoNotRepeat) {
  std::set<std::string> seen;
  for (int i = 0; i < 10'000; ++i) {
    auto password = generateSharedPassword();
    ASSERT_TRUE(quorin::testing::hasPasswordShape(password)) << password;
    ASSERT_TRUE(std::any_of(password.begin(), password.end(), ::isdigit)) << password;
    ASSERT_TRUE(std::any_of(password.begin(), password.end(), ::isupper)) << password;
    seen.insert(password);
  }
  EXPECT_EQ(seen.size(), 10'000u);
}

}  // namespace
}  // namespace quorin::platform::posix
