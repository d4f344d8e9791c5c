#include "fits/second_core.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

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
    }
    wake_.notify_one();
  }

 private:
  void Serve() {
    for (;;) {
      std::packaged_task<void()> task;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::packaged_task<void()>> tasks_;
  bool stopping_ = false;
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
