#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "stream/sbpool.h"

namespace kv4r::stream {
namespace {

// Polls until `waiters` threads are inside poolGet of the pool.
void waitForWaiters(const SBPOOL* pool, int waiters) {
  while (poolWaiters(pool) != waiters) std::this_thread::yield();
}

TEST(PoolThreads, GetWaitsForAPutOnAnotherThreadAndReceivesThatBlock) {
  UniquePool pool(mkpool(64, 2));
  void* a = poolGet(pool.get());
  void* b = poolGet(pool.get());
  std::atomic<void*> got{nullptr};
  std::atomic<bool> returned{false};
  std::thread waiter([&] {
    got = poolGet(pool.get());
    returned = true;
  });
  waitForWaiters(pool.get(), 1);
  EXPECT_FALSE(returned);
  EXPECT_EQ(poolPut(b), 1);
  waiter.join();
  EXPECT_EQ(got, b);
  EXPECT_EQ(poolWaiters(pool.get()), 0);
  EXPECT_EQ(poolPut(a), 1);
  EXPECT_EQ(poolPut(b), 1);
}

TEST(PoolThreads, TermpoolWakesTheWaiterWithNoneAndThePoolStillTakesBlocksBack) {
  UniquePool pool(mkpool(64, 1));
  void* a = poolGet(pool.get());
  void* got = a;
  std::thread waiter([&] { got = poolGet(pool.get()); });
  waitForWaiters(pool.get(), 1);
  EXPECT_EQ(termpool(pool.get()), 1);
  waiter.join();
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(termpool(pool.get()), 0);

  EXPECT_EQ(poolPut(a), 1);
  EXPECT_EQ(poolFreeCount(pool.get()), 1);
  EXPECT_EQ(poolGet(pool.get()), nullptr);  // at once, although a block is free
}

TEST(PoolThreads, TermpoolWithNobodyWaitingReturnsZeroAndRefusesLaterGets) {
  UniquePool pool(mkpool(64, 2));
  EXPECT_EQ(termpool(pool.get()), 0);
  EXPECT_EQ(poolGet(pool.get()), nullptr);
  EXPECT_EQ(poolFreeCount(pool.get()), 2);
}

TEST(PoolThreads, TermpoolWakesMoreWaitersThanThePoolHasBlocks) {
  UniquePool pool(mkpool(64, 1));
  void* a = poolGet(pool.get());
  std::vector<void*> got(5, a);
  std::vector<std::thread> waiters;
  for (int i = 0; i < 5; ++i) waiters.emplace_back([&, i] { got[i] = poolGet(pool.get()); });
  waitForWaiters(pool.get(), 5);
  EXPECT_EQ(termpool(pool.get()), 5);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(std::count(got.begin(), got.end(), nullptr), 5);
  EXPECT_EQ(poolPut(a), 1);
}

TEST(PoolThreads, FreepoolWakesWaitersBeforeItFreesThePool) {
  SBPOOL* pool = mkpool(64, 1);
  void* a = poolGet(pool);
  void* got = a;
  std::thread waiter([&] { got = poolGet(pool); });
  waitForWaiters(pool, 1);
  EXPECT_EQ(freepool(pool), 1);
  waiter.join();
  EXPECT_EQ(got, nullptr);
}

TEST(PoolThreads, WaitersEachReceiveADifferentReturnedBlock) {
  UniquePool pool(mkpool(64, 3));
  std::vector<void*> held;
  for (int i = 0; i < 3; ++i) held.push_back(poolGet(pool.get()));
  std::vector<void*> got(3, nullptr);
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) waiters.emplace_back([&, i] { got[i] = poolGet(pool.get()); });
  waitForWaiters(pool.get(), 3);
  for (void* block : held) EXPECT_EQ(poolPut(block), 1);
  for (auto& t : waiters) t.join();
  std::sort(held.begin(), held.end());
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, held);
}

// Threads that contend for fewer blocks than there are threads: each block must have one holder
// at a time, or a holder finds its mark overwritten.
TEST(PoolThreads, ContendingThreadsNeverShareABlock) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  UniquePool pool(mkpool(sizeof(int), 2));
  std::atomic<int> clashes{0};
  std::vector<std::thread> threads;
  for (int id = 0; id < kThreads; ++id) {
    threads.emplace_back([&, id] {
      for (int round = 0; round < kRounds; ++round) {
        int* block = static_cast<int*>(poolGet(pool.get()));
        if (block == nullptr) return;
        *block = id;
        std::this_thread::yield();
        if (*block != id) ++clashes;
        (void)poolPut(block);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(clashes, 0);
  EXPECT_EQ(poolFreeCount(pool.get()), 2);
}

}  // namespace
}  // namespace kv4r::stream
