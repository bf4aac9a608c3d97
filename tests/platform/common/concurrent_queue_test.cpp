#include "platform/common/concurrent_queue.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <latch>
#include <thread>
#include <vector>

namespace quorin::platform::posix {
namespace {

TEST(BarrierQueueTest, ReadsRunTogether) {
  common::BarrierQueue queue;
  constexpr int kReaders = 4;
  // Every reader waits inside its task for all the others: only parallel reads get through.
  std::barrier inside(kReaders);
  std::vector<std::thread> readers;
  for (int i = 0; i < kReaders; ++i) {
    readers.emplace_back([&] { queue.sync([&] { inside.arrive_and_wait(); }); });
  }
  for (auto& reader : readers) reader.join();
}

TEST(BarrierQueueTest, ReadAfterQueuedBarrierSeesItsResult) {
  common::BarrierQueue queue;
  std::latch release(1);
  int value = 0;  // written only by barriers, read only in sync tasks
  queue.asyncBarrier([&] {
    release.wait();
    value = 1;
  });
  queue.asyncBarrier([&] { value = 2; });
  std::vector<std::thread> readers;
  std::vector<int> seen(8, -1);
  for (int i = 0; i < 8; ++i) {
    readers.emplace_back([&, i] { queue.sync([&] { seen[i] = value; }); });
  }
  release.count_down();
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(seen, std::vector<int>(8, 2));
}

TEST(BarrierQueueTest, BarrierWaitsForReadsSubmittedBeforeIt) {
  common::BarrierQueue queue;
  std::latch readerInside(1);
  std::latch readerMayLeave(1);
  std::atomic<bool> readerDone{false};
  std::atomic<bool> barrierSawReaderDone{false};
  std::thread reader([&] {
    queue.sync([&] {
      readerInside.count_down();
      readerMayLeave.wait();
      readerDone = true;
    });
  });
  readerInside.wait();
  queue.asyncBarrier([&] { barrierSawReaderDone = readerDone.load(); });
  readerMayLeave.count_down();
  reader.join();
  queue.sync([] {});  // returns only after the barrier ran
  EXPECT_TRUE(barrierSawReaderDone);
}

TEST(BarrierQueueTest, BarrierMayDestroyTheQueue) {
  auto queue = std::make_shared<common::BarrierQueue>();
  std::latch done(1);
  std::weak_ptr<common::BarrierQueue> weak = queue;
  queue->asyncBarrier([owner = std::move(queue), &done]() mutable {
    owner.reset();
    done.count_down();
  });
  done.wait();
  EXPECT_TRUE(weak.expired());
}

}  // namespace
}  // namespace quorin::platform::posix
