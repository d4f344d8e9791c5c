#pragma once
// One long-lived helper thread for the passes of a cycle that split in two: starting a thread for
// each of them cost about 75 microseconds here, as much as some of the passes.

#include <functional>
#include <future>

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
  std::future<void> done_;
};
