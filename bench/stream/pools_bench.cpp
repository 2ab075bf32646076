// Hand-over costs of the buffer pools and the frame queue between two threads. Every iteration is
// one round trip: two hand-overs, each of which wakes a waiting thread.
//
// Queue ping-pong: one pointer goes to a partner thread and comes back.
//   BM_MutexDequePingPong    baseline: two channels of std::mutex + std::condition_variable +
//                            std::deque<void*>
//   BM_QueuePingPong         two frame queues; QPut wakes the QGet of the other thread
// Block cycle: one block goes out to a partner thread through a frame queue and comes back through
// the free list, whose get waits for it (a session's receive buffers travel like this).
//   BM_MutexDequeBlockCycle  baseline: the free list is a mutex + condition variable + deque
//   BM_PoolBlockCycle        the free list is a one-block pool (poolGet / poolPut)
// Figures: real time per round trip of each case against its baseline.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "bench/bench_support.h"
#include "stream/frame_queue.h"
#include "stream/sbpool.h"

namespace kv4r::stream {
namespace {

class Channel {
 public:
  void push(void* item) {
    {
      std::lock_guard guard(mutex_);
      items_.push_back(item);
    }
    ready_.notify_one();
  }
  void* pop() {
    std::unique_lock guard(mutex_);
    ready_.wait(guard, [this] { return !items_.empty(); });
    void* item = items_.front();
    items_.pop_front();
    return item;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<void*> items_;
};

void BM_MutexDequePingPong(benchmark::State& state) {
  Channel there;
  Channel back;
  std::thread partner([&] {
    while (void* item = there.pop()) back.push(item);
  });
  int token = 0;
  void* item = &token;
  for (auto _ : state) {
    there.push(item);
    item = back.pop();
  }
  there.push(nullptr);
  partner.join();
}
BENCHMARK(BM_MutexDequePingPong)->UseRealTime();

// A one-block pool cycled the way a session cycles its buffers: this thread takes the block
// (waiting until it is back) and queues it; the partner takes it off the queue and gives it back.
// The baseline cycles the block through a free list of std::mutex + std::condition_variable +
// std::deque instead, with the same queue leg.
template <typename Take, typename Give>
void cycleBlock(benchmark::State& state, Take take, Give give) {
  UniqueQueue queue(QCreate());
  std::thread partner([&] {
    while (void* block = QGet(queue.get())) give(block);
  });
  for (auto _ : state) (void)QPut(queue.get(), take());
  (void)QPut(queue.get(), nullptr);
  partner.join();
}

void BM_MutexDequeBlockCycle(benchmark::State& state) {
  Channel free_blocks;
  int block = 0;
  free_blocks.push(&block);
  cycleBlock(
      state, [&] { return free_blocks.pop(); }, [&](void* b) { free_blocks.push(b); });
}
BENCHMARK(BM_MutexDequeBlockCycle)->UseRealTime();

void BM_PoolBlockCycle(benchmark::State& state) {
  UniquePool pool(mkpool(64, 1));
  cycleBlock(
      state, [&] { return poolGet(pool.get()); }, [](void* b) { (void)poolPut(b); });
}
BENCHMARK(BM_PoolBlockCycle)->UseRealTime();

void BM_QueuePingPong(benchmark::State& state) {
  UniqueQueue there(QCreate());
  UniqueQueue back(QCreate());
  std::thread partner([&] {
    while (void* item = QGet(there.get())) (void)QPut(back.get(), item);
  });
  int token = 0;
  void* item = &token;
  for (auto _ : state) {
    (void)QPut(there.get(), item);
    item = QGet(back.get());
  }
  (void)QPut(there.get(), nullptr);
  partner.join();
}
BENCHMARK(BM_QueuePingPong)->UseRealTime();

void declareFigures() {
  using bench::Goal;
  bench::declareTimeRatio("pool_roundtrip", "BM_PoolBlockCycle/real_time",
                          "BM_MutexDequeBlockCycle/real_time", Goal::AtMost, 1.5);
  bench::declareTimeRatio("queue_roundtrip", "BM_QueuePingPong/real_time",
                          "BM_MutexDequePingPong/real_time", Goal::AtMost, 1.5);
}

}  // namespace
}  // namespace kv4r::stream

KV4R_BENCH_MAIN(kv4r::stream::declareFigures)
