#pragma once
// One long-lived helper thread for the passes of a cycle that split in two: starting a thread for
// each of them cost about 75 microseconds here, as much as some of the passes.

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

/// The cores this process may run on (a service or `taskset` may allow fewer than the machine has).
int UsableCores();

/// A task on the helper thread. Tasks run one after another, so a task must never wait for
/// another; where no thread can be had, the task runs at once in the caller.
class SecondCoreTask {
 public:
  explicit SecondCoreTask(std::function<void()> task);
  /// Waits for the task, also when the caller leaves by an exception: a task never outlives what
  /// it uses.
  ~SecondCoreTask();
  SecondCoreTask(const SecondCoreTask&) = delete;
  SecondCoreTask& operator=(const SecondCoreTask&) = delete;

  /// Waits for the task and passes on its exception, if any.
  void Join();

 private:
  // What the helper leaves for the caller: shared, as the helper still holds it after it says it
  // is done.
  struct Completion {
    std::atomic<bool> done{false};
    std::exception_ptr error;
    // Not std::atomic::wait: before GCC 13, libstdc++ can lose its wake-up where the system has
    // no futex (Windows), and the waiter sleeps for good.
    std::mutex mutex;
    std::condition_variable changed;
  };

  void Wait();

  std::shared_ptr<Completion> completion_ = std::make_shared<Completion>();
  bool joined_ = false;
};

/// Runs `part(worker, i)` for every i from 0 to `parts` - 1, on the caller (worker 0) and on the
/// helper thread (worker 1), each taking the next part that no one has taken: the caller begins
/// at once and never waits for the helper to wake, only for a part the helper is working on.
/// Passes on the first exception of a part, once no part is running any more.
void ShareParts(int parts, const std::function<void(int worker, int part)>& part);

/// ShareParts over `count` rows in runs of rows (at most eight), run(worker, first, end) for each.
void ShareRows(int count, const std::function<void(int worker, int first, int end)>& run);
