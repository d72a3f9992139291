#include "platform/worker_thread.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace quillet::platform {
namespace {

using namespace std::chrono_literals;

TEST(WorkerThread, StartOverAnUnstoppedThreadIsRefusedAndStopJoins) {
  LWorkerThread t;
  std::atomic<bool> finished{false}, quickRan{false}, secondRan{false};
  ASSERT_TRUE(t.Start([&] {
    while (!t.stopRequested()) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);  // a slow exit: Stop must wait for it
    finished = true;
  }));
  EXPECT_TRUE(t.running());
  EXPECT_FALSE(t.Start([&] { secondRan = true; }));
  t.Stop();
  EXPECT_TRUE(finished);
  EXPECT_FALSE(t.running());

  // A job that has returned still holds its place until it is stopped.
  ASSERT_TRUE(t.Start([&] { quickRan = true; }));
  while (!quickRan) std::this_thread::sleep_for(1ms);
  EXPECT_FALSE(t.Start([&] { secondRan = true; }));
  t.Stop();

  // The stop request of the last run is cleared for the next.
  std::atomic<bool> sawStop{true}, ran{false};
  ASSERT_TRUE(t.Start([&] {
    sawStop = t.stopRequested();
    ran = true;
  }));
  while (!ran) std::this_thread::sleep_for(1ms);
  t.Stop();
  EXPECT_FALSE(sawStop);
  EXPECT_FALSE(secondRan);
}

TEST(WorkerThread, WakeRousesAWaitingJobAndTheDestructorJoins) {
  std::mutex m;
  std::condition_variable cv;
  bool woken = false;
  std::chrono::steady_clock::duration waited{};
  {
    LWorkerThread t;
    ASSERT_TRUE(t.Start([&] {
      const auto start = std::chrono::steady_clock::now();
      std::unique_lock l(m);
      cv.wait_for(l, 30s, [&] { return woken; });
      waited = std::chrono::steady_clock::now() - start;
    }));
    std::this_thread::sleep_for(10ms);
    t.Stop([&] {
      std::lock_guard g(m);
      woken = true;
      cv.notify_all();
    });
    EXPECT_LT(waited, 10s);
  }
  auto owned = std::make_shared<int>(0);
  std::weak_ptr<int> watch = owned;
  {
    LWorkerThread t;
    ASSERT_TRUE(t.Start([owned = std::move(owned)] {
      std::this_thread::sleep_for(20ms);
      *owned = 7;
    }));
  }
  // Joined: the job and what it held are gone.
  EXPECT_TRUE(watch.expired());
}

TEST(WorkerThread, IdlePriorityAppliesToTheJobOnly) {
  std::atomic<int> idle{-1}, normal{-1};
  LWorkerThread t;
  ASSERT_TRUE(t.Start([&] { idle = sched_getscheduler(0); }, ThreadPriority::kIdle));
  t.Stop();
  ASSERT_TRUE(t.Start([&] { normal = sched_getscheduler(0); }));
  t.Stop();
  EXPECT_EQ(idle, SCHED_IDLE);
  EXPECT_EQ(normal, SCHED_OTHER);
}

struct CountingWaker : InterfaceWaker {
  std::atomic<int> wakes{0};
  void Wake() override { ++wakes; }
};

TEST(NotificationQueue, PostsFromAThreadCoalesceAndWakeTheInterface) {
  CountingWaker waker;
  NotificationQueue queue(&waker);
  int runs = 0;
  Notifier n(queue, [&] { ++runs; });
  LWorkerThread t;
  ASSERT_TRUE(t.Start([&] {
    for (int i = 0; i < 100; ++i) n.Post();
  }));
  t.Stop();
  EXPECT_EQ(waker.wakes, 1);
  EXPECT_EQ(queue.Dispatch(), 1);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(queue.WaitAndDispatch(1), 0);
  n.Post();  // pending again once dispatched
  EXPECT_EQ(queue.WaitAndDispatch(1000), 1);
  EXPECT_EQ(runs, 2);
}

TEST(NotificationQueue, GoneNotifiersAreSkippedAndAHandlerMayDestroyItsOwn) {
  NotificationQueue queue;
  int runs = 0;
  auto gone = std::make_unique<Notifier>(queue, [&] { ++runs; });
  gone->Post();
  gone.reset();
  std::unique_ptr<Notifier> self;
  self = std::make_unique<Notifier>(queue, [&] {
    ++runs;
    self.reset();
  });
  self->Post();
  EXPECT_EQ(queue.Dispatch(), 1);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(self, nullptr);
}

}  // namespace
}  // namespace quillet::platform
