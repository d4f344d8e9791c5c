#include "base/second_core.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// A hint to the core that this thread is waiting in a loop.
inline void Pause() {
#if defined(__x86_64__)
  __builtin_ia32_pause();
#endif
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

  void Post(std::function<void()> task) {
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
      queued_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_one();
  }

 private:
  // The passes of a cycle that take this thread follow each other within a fraction of a
  // millisecond, and waking a sleeping thread took up to 200 microseconds here: after each task the
  // thread looks for the next one for a while before it sleeps.
  void StayAwake() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
    while (queued_.load(std::memory_order_acquire) == 0 && std::chrono::steady_clock::now() < until) Pause();
  }

  void Serve() {
    for (;;) {
      std::function<void()> task;
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
  std::deque<std::function<void()>> tasks_;
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

// A caller that is done with its share usually sees the helper done within a fraction of a
// millisecond, and being woken from a sleep took 200 microseconds here: it looks for the end of
// the helper's work for that long before it sleeps.
template <typename Pending>
void SpinWhile(Pending pending) {
  static const bool spin = UsableCores() > 1;  // never where it would hold the helper's only core
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
  while (spin && pending() && std::chrono::steady_clock::now() < until) Pause();
}

}  // namespace

SecondCoreTask::SecondCoreTask(std::function<void()> task) {
  const auto run = [task = std::move(task), completion = completion_] {
    try {
      task();
    } catch (...) {
      completion->error = std::current_exception();
    }
    {
      std::lock_guard lock(completion->mutex);
      completion->done.store(true, std::memory_order_release);
    }
    completion->changed.notify_one();
  };
  if (HelperThread* helper = Helper()) helper->Post(run);
  else run();
}

SecondCoreTask::~SecondCoreTask() { Wait(); }

void SecondCoreTask::Wait() {
  SpinWhile([this] { return !completion_->done.load(std::memory_order_acquire); });
  std::unique_lock lock(completion_->mutex);
  completion_->changed.wait(lock, [this] { return completion_->done.load(std::memory_order_acquire); });
}

void SecondCoreTask::Join() {
  Wait();
  if (joined_) return;
  joined_ = true;
  if (completion_->error) std::rethrow_exception(completion_->error);
}

namespace {

// What the caller and the helper share while they take parts: the helper's task may begin long
// after the caller is done, and then finds no part left and touches nothing else.
struct SharedParts {
  explicit SharedParts(int count, const std::function<void(int, int)>& run) : count(count), run(&run) {}
  const int count;
  const std::function<void(int, int)>* run;
  std::atomic<int> next{0};      // claims made so far; a claim of count or more gets no part
  std::atomic<int> finished{0};  // parts done
  std::mutex error_mutex;
  std::exception_ptr error;
  // Waiting for the parts the helper still works on (not std::atomic::wait, as for a task).
  std::mutex finished_mutex;
  std::condition_variable finished_changed;

  void Take(int worker) {
    for (int part; (part = next.fetch_add(1, std::memory_order_relaxed)) < count;) {
      try {
        (*run)(worker, part);
      } catch (...) {
        std::lock_guard lock(error_mutex);
        if (!error) error = std::current_exception();
      }
      {
        std::lock_guard lock(finished_mutex);
        finished.fetch_add(1, std::memory_order_release);
      }
      finished_changed.notify_one();
    }
  }
};

}  // namespace

void ShareParts(int parts, const std::function<void(int worker, int part)>& part) {
  if (parts <= 0) return;
  const auto shared = std::make_shared<SharedParts>(parts, part);
  if (HelperThread* helper = Helper(); helper && parts > 1) helper->Post([shared] { shared->Take(1); });
  shared->Take(0);
  // Every part is claimed now; wait for those the helper is still working on.
  const auto finished = [&shared] { return shared->finished.load(std::memory_order_acquire); };
  SpinWhile([&] { return finished() < parts; });
  std::unique_lock lock(shared->finished_mutex);
  shared->finished_changed.wait(lock, [&] { return finished() >= parts; });
  if (shared->error) std::rethrow_exception(shared->error);
}

void ShareRows(int count, const std::function<void(int worker, int first, int end)>& run) {
  const int parts = std::min(count, 8);
  ShareParts(parts, [&](int worker, int part) { run(worker, count * part / parts, count * (part + 1) / parts); });
}
