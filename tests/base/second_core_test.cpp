// SPDX-License-Identifier: GPL-3.0-or-later
// The helper thread that a cycle's passes share: a caller must never wait for it to wake.

#include "base/second_core.h"

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

// With the helper held by another task, the caller takes every part itself and is done without
// it; a part's exception reaches the caller once no part is running.
TEST(ShareParts, TheCallerTakesThePartsTheHelperCannotAndPassesOnAnException) {
  std::atomic<bool> release{false};
  SecondCoreTask busy([&] {
    while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  std::vector<int> workers(8, -1);
  ShareParts(8, [&](int worker, int part) { workers[static_cast<size_t>(part)] = worker; });
  EXPECT_EQ(workers, std::vector<int>(8, 0));
  release = true;
  busy.Join();

  std::atomic<int> done{0};
  EXPECT_THROW(ShareParts(6,
                          [&](int, int part) {
                            if (part == 2) throw std::runtime_error("a part failed");
                            ++done;
                          }),
               std::runtime_error);
  EXPECT_EQ(done.load(), 5);
}

}  // namespace
