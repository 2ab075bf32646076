#include "platform/multimedia_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>

namespace kv4r::platform {
namespace {

// Counts callbacks and lets the test wait for a number of them.
struct Counter {
  std::mutex mutex;
  std::condition_variable changed;
  int calls = 0;
  void hit() {
    // Notified under the lock: the waiter may destroy the counter as soon as it sees the count.
    std::lock_guard lock(mutex);
    ++calls;
    changed.notify_all();
  }
  void waitFor(int n) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return calls >= n; });
  }
  int count() {
    std::lock_guard lock(mutex);
    return calls;
  }
};

TEST(MultimediaTimer, PeriodicEventRepeatsOnTheTimerThreadUntilKilled) {
  MultimediaTimer timer;
  Counter counter;
  std::atomic<bool> on_timer_thread{true};
  const int id = timer.setEvent(
      2, 1,
      [&](int) {
        if (!timer.onTimerThread()) on_timer_thread = false;
        counter.hit();
      },
      true);
  ASSERT_GT(id, 0);
  counter.waitFor(3);
  EXPECT_EQ(timer.kill(id), kTimerOk);
  const int after_kill = counter.count();
  EXPECT_EQ(timer.kill(id), kTimerUnknownId);
  // A later event fires after the killed one would have fired several times.
  Counter later;
  ASSERT_GT(timer.setEvent(
                20, 1, [&](int) { later.hit(); }, false),
            0);
  later.waitFor(1);
  EXPECT_EQ(counter.count(), after_kill);
  EXPECT_TRUE(on_timer_thread);
  EXPECT_FALSE(timer.onTimerThread());
  EXPECT_EQ(timer.setEvent(
                0, 1, [](int) {}, true),
            0);
}

TEST(MultimediaTimer, OneShotFiresOnceAndCannotBeKilledAfterwards) {
  MultimediaTimer timer;
  Counter one;
  const int id = timer.setEvent(
      1, 1, [&](int) { one.hit(); }, false);
  one.waitFor(1);
  // Give a wrongly repeating event the chance to fire again before the check.
  Counter fence;
  ASSERT_GT(timer.setEvent(
                15, 1, [&](int) { fence.hit(); }, false),
            0);
  fence.waitFor(1);
  EXPECT_EQ(one.count(), 1);
  EXPECT_EQ(timer.kill(id), kTimerUnknownId);
}

TEST(MultimediaTimer, KillWaitsForTheRunningCallbackButNotFromInsideIt) {
  MultimediaTimer timer;
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false, release = false;
  std::atomic<bool> finished{false};
  const int id = timer.setEvent(
      1, 1,
      [&](int own) {
        {
          std::unique_lock lock(mutex);
          entered = true;
          changed.notify_all();
          changed.wait(lock, [&] { return release; });
        }
        (void)timer.kill(own);  // from inside: returns at once instead of waiting for itself
        finished = true;
      },
      true);
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return entered; });
  }
  std::thread killer([&] {
    timer.kill(id);
    EXPECT_TRUE(finished);  // returned only after the callback had run to its end
  });
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  changed.notify_all();
  killer.join();
}

TEST(MultimediaTimer, KillOfAnIdNeverGivenOutReturnsAtOnce) {
  for (const int id : {0, -1, -40}) {
    MultimediaTimer timer;
    auto killed = std::async(std::launch::async, [&] { return timer.kill(id); });
    const bool returned = killed.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    if (!returned) {
      // Wake a blocked kill: a callback that changes the table runs while its id is the running
      // one.
      ASSERT_GT(timer.setEvent(
                    1, 1,
                    [&](int) {
                      (void)timer.setEvent(
                          1000, 1, [](int) {}, false);
                    },
                    false),
                0);
    }
    EXPECT_TRUE(returned) << "kill(" << id << ") waited with no callback running";
    EXPECT_EQ(killed.get(), kTimerUnknownId);
  }
}

}  // namespace
}  // namespace kv4r::platform
