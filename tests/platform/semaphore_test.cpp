#include "platform/semaphore.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kv4r::platform {
namespace {

TEST(Semaphore, ReleasePastMaximumFailsAndChangesNothing) {
  Semaphore s(1, 2);
  EXPECT_TRUE(s.release());
  EXPECT_FALSE(s.release());
  EXPECT_FALSE(s.release(0));
  EXPECT_EQ(s.count(), 2);
  EXPECT_TRUE(s.tryAcquire());
  EXPECT_TRUE(s.tryAcquire());
  EXPECT_FALSE(s.tryAcquire());
}

TEST(Semaphore, AcquireWaitsForReleaseOnAnotherThread) {
  Semaphore s(0, 1);
  std::thread waiter([&] { s.acquire(); });
  EXPECT_TRUE(s.release());
  waiter.join();
  EXPECT_EQ(s.count(), 0);
}

TEST(Semaphore, ReleaseOfManyWakesAsManyWaiters) {
  Semaphore s(0, 8);
  std::thread a([&] { s.acquire(); });
  std::thread b([&] { s.acquire(); });
  std::thread c([&] { s.acquire(); });
  EXPECT_TRUE(s.release(3));
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(s.count(), 0);
}

TEST(Semaphore, ReleasesOneByOneWakeEveryWaiter) {
  Semaphore s(0, 8);
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) waiters.emplace_back([&] { s.acquire(); });
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(s.release());
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(s.count(), 0);
}

// Many hand-overs between threads that keep meeting at an empty count: a lost wake-up leaves a
// consumer asleep for ever (the test then hangs), a double one ends with a count above 0.
TEST(Semaphore, NoWakeUpIsLostUnderContention) {
  constexpr int kPerThread = 20000;
  Semaphore s(0, 4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kPerThread; ++i) s.acquire();
    });
    threads.emplace_back([&] {
      for (int i = 0; i < kPerThread; ++i) {
        while (!s.release()) std::this_thread::yield();  // at the maximum: wait for a consumer
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(s.count(), 0);
}

// More consumers than the count ever holds, fed one release at a time: every release that finds
// a count above 0 relies on waiters woken before it.
TEST(Semaphore, NoWakeUpIsLostWithManyWaitersAndOneProducer) {
  constexpr int kPerConsumer = 5000;
  constexpr int kConsumers = 4;
  Semaphore s(0, 2);
  std::vector<std::thread> threads;
  for (int t = 0; t < kConsumers; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kPerConsumer; ++i) s.acquire();
    });
  }
  for (int i = 0; i < kPerConsumer * kConsumers; ++i) {
    while (!s.release()) std::this_thread::yield();
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(s.count(), 0);
}

// The pattern of the pools and the queue: the woken thread destroys the semaphore at once, while
// the releasing thread may still be inside release (the address sanitizer checks that it no longer
// touches the semaphore).
TEST(Semaphore, WokenThreadMayDestroyItAtOnce) {
  for (int i = 0; i < 2000; ++i) {
    auto* s = new Semaphore(0, 1);
    std::thread waiter([s] {
      s->acquire();
      delete s;
    });
    EXPECT_TRUE(s->release());
    waiter.join();
  }
}

}  // namespace
}  // namespace kv4r::platform
