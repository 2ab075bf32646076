#include "platform/semaphore.h"

#include <gtest/gtest.h>

#include <thread>

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

}  // namespace
}  // namespace kv4r::platform
