#include "platform/common/local_notification_center.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/common/run_loop.hpp"
#include "support/virtual_clock.hpp"

namespace quorin::platform::posix {
namespace {

class NotificationCenterTest : public ::testing::Test {
 protected:
  NotificationHandler record(std::string tag) {
    return [this, tag](const Notification&) { log.push_back(tag); };
  }
  common::LocalNotificationCenter center;
  std::vector<std::string> log;
  int sender = 0;
  int otherSender = 0;
};

TEST_F(NotificationCenterTest, DeliversByNameAndSenderOnThePostingThread) {
  center.addObserver(this, "a", &sender, record("a/sender"));
  center.addObserver(this, "a", nullptr, record("a/any"));
  center.addObserver(this, "b", &sender, record("b/sender"));
  center.post({"a", &otherSender, std::nullopt});
  center.post({"a", &sender, std::nullopt});
  EXPECT_EQ(log, (std::vector<std::string>{"a/any", "a/sender", "a/any"}));

  auto poster = std::this_thread::get_id();
  std::thread::id deliveredOn;
  center.addObserver(this, "c", nullptr,
                     [&](const Notification&) { deliveredOn = std::this_thread::get_id(); });
  center.post({"c", nullptr, std::nullopt});
  EXPECT_EQ(deliveredOn, poster);
}

TEST_F(NotificationCenterTest, RemoveObserverMatchesObserverNameAndObject) {
  int otherObserver = 0;
  center.addObserver(this, "a", &sender, record("mine"));
  center.addObserver(&otherObserver, "a", &sender, record("theirs"));
  center.removeObserver(this, "a", &otherSender);  // a different object: nothing removed
  center.removeObserver(this, "a", &sender);
  center.post({"a", &sender, std::nullopt});
  EXPECT_EQ(log, std::vector<std::string>{"theirs"});
}

TEST_F(NotificationCenterTest, HandlerMayRemoveObserversWhileBeingDelivered) {
  center.addObserver(this, "a", nullptr, [&](const Notification&) {
    log.push_back("first");
    center.removeObserver(this, "a", nullptr);
  });
  center.post({"a", nullptr, std::nullopt});
  center.post({"a", nullptr, std::nullopt});
  EXPECT_EQ(log, std::vector<std::string>{"first"});
}

TEST_F(NotificationCenterTest, BlockObserversRunOnTheirQueueWithTheUserInfo) {
  testing::VirtualClock clock;
  common::RunLoop loop(clock);
  std::vector<std::int64_t> reasons;
  auto token = center.addObserverForName("change", &sender, loop, [&](const Notification& n) {
    reasons.push_back(*n.userInfo->at("reason").get<std::int64_t>());
  });
  center.post({"change", &sender, formats::Dictionary{{"reason", formats::Value(1)}}});
  EXPECT_TRUE(reasons.empty());
  loop.drainPending();
  EXPECT_EQ(reasons, std::vector<std::int64_t>{1});

  center.removeObserver(token);
  center.post({"change", &sender, formats::Dictionary{{"reason", formats::Value(2)}}});
  loop.drainPending();
  EXPECT_EQ(reasons, std::vector<std::int64_t>{1});
  EXPECT_EQ(center.observerCount(), 0u);
}

}  // namespace
}  // namespace quorin::platform::posix
