// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Long waits run beside the window's thread.

#include <chrono>
#include <future>
#include <system_error>

#include "app/live_cycle.h"

/// Runs `job` on a thread of its own while the window breathes, and returns its result: an upload,
/// a login or the archive's flush may wait on a slow server or disk for long, and the window keeps
/// repainting meanwhile. The caller sees to it that nothing else uses what the job uses in the
/// meantime: no cycle starts while another runs or Start connects, and clicks and keys wait.
/// Without a thread to be had, the job runs here, as it always did.
template <typename Job>
auto Beside(LiveCycleHost& host, Job job) -> decltype(job()) {
  std::future<decltype(job())> running;
  try {
    running = std::async(std::launch::async, job);
  } catch (const std::system_error&) {
    return job();
  }
  while (running.wait_for(std::chrono::milliseconds(4)) != std::future_status::ready) host.Breathe();
  return running.get();
}
