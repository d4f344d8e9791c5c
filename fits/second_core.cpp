#include "fits/second_core.h"

#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// The cores this process may run on (a service or `taskset` may allow fewer than the machine has).
int UsableCores() {
  cpu_set_t cores;
  if (sched_getaffinity(0, sizeof cores, &cores) != 0) return 1;
  return CPU_COUNT(&cores);
}

class HelperThread {
 public:
  HelperThread() : thread_([this] { Serve(); }) {}
  ~HelperThread() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }

  void Post(std::packaged_task<void()> task) {
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
      queued_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_one();
  }

 private:
  // The passes of a cycle that take this thread follow each other within a fraction of a
  // millisecond, and waking a sleeping thread took tens of microseconds here: after each task the
  // thread looks for the next one for a while before it sleeps.
  void StayAwake() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
    while (queued_.load(std::memory_order_acquire) == 0 && std::chrono::steady_clock::now() < until) Pause();
  }

  static void Pause() {
#if defined(__x86_64__)
    __builtin_ia32_pause();
#endif
  }

  void Serve() {
    for (;;) {
      std::packaged_task<void()> task;
      if (spin_) StayAwake();
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
        queued_.fetch_sub(1, std::memory_order_relaxed);
      }
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::packaged_task<void()>> tasks_;
  bool stopping_ = false;
  std::atomic<int> queued_{0};
  const bool spin_ = UsableCores() > 1;  // never where it would hold the only core
  std::thread thread_;  // last: it starts serving as soon as it is made
};

// Null where the thread could not be started.
HelperThread* Helper() {
  static const std::unique_ptr<HelperThread> helper = []() -> std::unique_ptr<HelperThread> {
    try {
      return std::make_unique<HelperThread>();
    } catch (const std::system_error&) {
      return nullptr;
    }
  }();
  return helper.get();
}

}  // namespace

SecondCoreTask::SecondCoreTask(std::function<void()> task) {
  std::packaged_task<void()> packaged(std::move(task));
  done_ = packaged.get_future();
  if (HelperThread* helper = Helper()) helper->Post(std::move(packaged));
  else packaged();
}

SecondCoreTask::~SecondCoreTask() {
  if (done_.valid()) done_.wait();
}

void SecondCoreTask::Join() { done_.get(); }
