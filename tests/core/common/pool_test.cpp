#include "core/common/pool.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace korva {
namespace {

TEST(ThreadPool, EveryIndexRunsOnceAndTheWorkersRunSideBySide) {
  ThreadPool pool(3);
  EXPECT_EQ(pool.threads(), 3);
  std::vector<std::atomic<int>> runs(200);
  std::atomic<int> running{0};
  std::atomic<int> most{0};
  ParallelFor(&pool, 200, [&](int i) {
    const int now = ++running;
    for (int seen = most; seen < now && !most.compare_exchange_weak(seen, now);) {
    }
    // The first tasks wait (up to a generous bound) for a second one to
    // start beside them, so the test sees the threads overlap.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (i < 3 && most < 2 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    ++runs[static_cast<std::size_t>(i)];
    --running;
  });
  for (const auto& r : runs) EXPECT_EQ(r, 1);
  EXPECT_GE(most, 2);
}

TEST(ThreadPool, NestedGroupsFinishOnASmallPoolAndWithoutOne) {
  // Files in parallel, each with places in parallel: more groups than threads.
  ThreadPool two(2);
  for (ThreadPool* pool : {static_cast<ThreadPool*>(nullptr), &two}) {
    std::atomic<int> places{0};
    ParallelFor(pool, 6, [&](int) { ParallelFor(pool, 23, [&](int) { ++places; }); });
    EXPECT_EQ(places, 6 * 23);
  }
}

// Spins until `done` holds, for at most ten seconds; false on time-out.
template <typename Done>
bool Within10s(Done done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(ThreadPool, AThreadWaitingForItsGroupTakesOtherGroupsWork) {
  // One listener on two threads: the worker picks up the run, and the run
  // later queues work of its own (a helper) that only the thread waiting
  // for the run is free to take.
  ThreadPool two(2);
  std::atomic<bool> run_started{false};
  std::atomic<bool> helped{false};
  bool saw_idle = false;
  TaskGroup runs(&two);
  runs.Run([&] {
    run_started = true;
    saw_idle = Within10s([&] { return two.HasIdleWorker(); });
    TaskGroup helper(&two);
    helper.Run([&] { helped = true; });
    EXPECT_TRUE(Within10s([&] { return helped.load(); })) << "the waiting thread did not help";
    helper.Wait();
  });
  ASSERT_TRUE(Within10s([&] { return run_started.load(); }));
  runs.Wait();
  EXPECT_TRUE(saw_idle) << "a thread waiting for its group did not count as idle";
  EXPECT_TRUE(helped);
}

TEST(ThreadPool, TheFirstErrorReachesTheWaiterAndStopsTheTasksNotYetStarted) {
  ThreadPool two(2);
  for (ThreadPool* pool : {static_cast<ThreadPool*>(nullptr), &two}) {
    std::atomic<int> ran{0};
    TaskGroup group(pool);
    for (int i = 0; i < 50; ++i) {
      group.Run([&, i] {
        ++ran;
        if (i == 0) throw std::runtime_error("place 0 failed");
      });
    }
    EXPECT_THROW(
        {
          try {
            group.Wait();
          } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "place 0 failed");
            throw;
          }
        },
        std::runtime_error);
    // Without a pool the tasks run as queued, so the failure stops the rest.
    if (pool == nullptr) {
      EXPECT_EQ(ran, 1);
    }
    EXPECT_LE(ran, 50);
    // The group can be used again once its error has been delivered.
    group.Run([&] { ++ran; });
    EXPECT_NO_THROW(group.Wait());
  }
}

// A process confined to fewer cores (taskset, a batch scheduler) sizes its
// pools to them, not to the machine.
TEST(CoreCount, FollowsTheCoresTheProcessMayUse) {
  cpu_set_t before;
  ASSERT_EQ(::sched_getaffinity(0, sizeof before, &before), 0);
  int first = 0;
  while (!CPU_ISSET(first, &before)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_EQ(CoreCount(), 1);
  ASSERT_EQ(::sched_setaffinity(0, sizeof before, &before), 0);
  EXPECT_EQ(CoreCount(), CPU_COUNT(&before));
}

}  // namespace
}  // namespace korva
