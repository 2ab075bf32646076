#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "stream/frame_queue.h"

namespace kv4r::stream {
namespace {

void* item(std::uintptr_t n) {
  return reinterpret_cast<void*>(n);
}

void waitForWaiters(const FrameQueue* queue, int waiters) {
  while (QWaiters(queue) != waiters) std::this_thread::yield();
}

TEST(FrameQueue, KeepsOrderAcrossTheWrapOfItsSlots) {
  UniqueQueue queue(QCreate());
  ASSERT_NE(queue, nullptr);
  std::uintptr_t next_in = 1;
  std::uintptr_t next_out = 1;
  for (int round = 0; round < 5; ++round) {
    for (int i = 0; i < 100; ++i) ASSERT_EQ(QPut(queue.get(), item(next_in++)), 1);
    EXPECT_EQ(QCount(queue.get()), 100);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(QGet(queue.get()), item(next_out++));
  }
  EXPECT_EQ(QCount(queue.get()), 0);
}

TEST(FrameQueue, HoldsOneHundredTwentyEightItemsAndRefusesTheNext) {
  UniqueQueue queue(QCreate());
  for (std::uintptr_t i = 1; i <= 128; ++i) ASSERT_EQ(QPut(queue.get(), item(i)), 1);
  EXPECT_EQ(QPut(queue.get(), item(129)), 0);
  EXPECT_EQ(QGet(queue.get()), item(1));
  EXPECT_EQ(QPut(queue.get(), item(129)), 1);
  for (std::uintptr_t i = 2; i <= 129; ++i) ASSERT_EQ(QGet(queue.get()), item(i));
  EXPECT_EQ(QCount(queue.get()), 0);
}

TEST(FrameQueue, MissingQueueIsRefused) {
  EXPECT_EQ(QPut(nullptr, item(1)), 0);
  EXPECT_EQ(QGet(nullptr), nullptr);
  QDestroy(nullptr);
}

TEST(FrameQueue, GetWaitsOnAnEmptyQueueAndANullItemWakesItWithNull) {
  UniqueQueue queue(QCreate());
  void* got = item(1);
  std::atomic<bool> returned{false};
  std::thread waiter([&] {
    got = QGet(queue.get());
    returned = true;
  });
  waitForWaiters(queue.get(), 1);
  EXPECT_FALSE(returned);
  EXPECT_EQ(QPut(queue.get(), nullptr), 1);
  waiter.join();
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(QCount(queue.get()), 0);
}

TEST(FrameQueue, DestroyWakesEveryWaiterWithNone) {
  FrameQueue* queue = QCreate();
  std::vector<void*> got(3, item(1));
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) waiters.emplace_back([&, i] { got[i] = QGet(queue); });
  waitForWaiters(queue, 3);
  QDestroy(queue);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(std::count(got.begin(), got.end(), nullptr), 3);
}

// Only the change from empty releases a waiter; the others must still get the items put right
// after.
TEST(FrameQueue, ItemsPutBackToBackReachEveryWaiter) {
  UniqueQueue queue(QCreate());
  std::vector<void*> got(3, nullptr);
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) waiters.emplace_back([&, i] { got[i] = QGet(queue.get()); });
  waitForWaiters(queue.get(), 3);
  for (std::uintptr_t i = 1; i <= 3; ++i) ASSERT_EQ(QPut(queue.get(), item(i)), 1);
  for (auto& t : waiters) t.join();
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<void*>{item(1), item(2), item(3)}));
}

TEST(FrameQueue, ProducersAndConsumersLoseAndRepeatNothing) {
  constexpr int kProducers = 2;
  constexpr int kConsumers = 2;
  constexpr std::uintptr_t kPerProducer = 3000;
  UniqueQueue queue(QCreate());
  std::vector<std::vector<std::uintptr_t>> received(kConsumers);
  std::vector<std::thread> consumers;
  for (int c = 0; c < kConsumers; ++c) {
    consumers.emplace_back([&, c] {
      while (void* got = QGet(queue.get()))
        received[c].push_back(reinterpret_cast<std::uintptr_t>(got));
    });
  }
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (std::uintptr_t i = 1; i <= kPerProducer; ++i) {
        while (QPut(queue.get(), item(p * kPerProducer + i)) == 0) std::this_thread::yield();
      }
    });
  }
  for (auto& t : producers) t.join();
  for (int c = 0; c < kConsumers; ++c) {
    while (QPut(queue.get(), nullptr) == 0) std::this_thread::yield();
  }
  for (auto& t : consumers) t.join();

  std::vector<std::uintptr_t> all;
  for (const auto& part : received) {
    // One consumer sees each producer's items in the order they were put.
    for (int p = 0; p < kProducers; ++p) {
      std::uintptr_t last = 0;
      for (std::uintptr_t n : part) {
        if ((n - 1) / kPerProducer != static_cast<std::uintptr_t>(p)) continue;
        EXPECT_GT(n, last);
        last = n;
      }
    }
    all.insert(all.end(), part.begin(), part.end());
  }
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), kProducers * kPerProducer);
  for (std::size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], i + 1);
}

}  // namespace
}  // namespace kv4r::stream
