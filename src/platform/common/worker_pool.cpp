#include "platform/common/worker_pool.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace quorin::platform::common {
namespace {

class WorkerPool {
 public:
  WorkerPool() {
    unsigned count = std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
    for (unsigned i = 0; i < count; ++i) threads_.emplace_back([this] { work(); });
  }
  ~WorkerPool() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    ready_.notify_all();
    for (auto& thread : threads_) thread.join();
  }

  void submit(Task job) {
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back(std::move(job));
    }
    ready_.notify_one();
  }

 private:
  void work() {
    std::unique_lock lock(mutex_);
    while (true) {
      ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      Task job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      job = nullptr;
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Task> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace

void runOnWorker(Task job) {
  static WorkerPool pool;
  pool.submit(std::move(job));
}

}  // namespace quorin::platform::common
