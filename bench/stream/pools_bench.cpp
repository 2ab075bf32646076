// Hand-over costs of the buffer pools and the frame queue between two threads.
//
// Each case is a ping-pong: per iteration one pointer travels from the benchmark thread to a
// partner thread and one comes back, so every iteration is two hand-overs that each wake a waiting
// thread.
//   BM_MutexDequePingPong  baseline: two channels of std::mutex + std::condition_variable +
//                          std::deque<void*>
//   BM_PoolPingPong        two one-block pools; a block given back with poolPut wakes the poolGet
//   of
//                          the other thread (the receive path of a session: put by one, got by
//                          other)
//   BM_QueuePingPong       two frame queues; QPut wakes the QGet of the other thread
// Figures: each case's real time per round trip against the baseline's.
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

// Each side holds the block of one pool. A round: this thread gives its block back and waits in the
// other pool; the partner takes the given-back block and gives its own back. Afterwards each holds
// the other pool's block, so both sides swap pools for the next round.
void BM_PoolPingPong(benchmark::State& state) {
  UniquePool pools[2] = {UniquePool(mkpool(64, 1)), UniquePool(mkpool(64, 1))};
  void* mine = poolGet(pools[0].get());
  void* theirs = poolGet(pools[1].get());
  std::thread partner([&] {
    int side = 0;  // the pool whose block this thread waits for
    void* held = theirs;
    while (void* got = poolGet(pools[side].get())) {
      (void)poolPut(held);
      held = got;
      side = 1 - side;
    }
    theirs = held;
  });
  int side = 1;  // the pool whose block this thread waits for
  for (auto _ : state) {
    (void)poolPut(mine);
    mine = poolGet(pools[side].get());
    side = 1 - side;
  }
  (void)termpool(pools[0].get());
  (void)termpool(pools[1].get());
  partner.join();
  (void)poolPut(mine);
  (void)poolPut(theirs);
}
BENCHMARK(BM_PoolPingPong)->UseRealTime();

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
  bench::declareTimeRatio("pool_roundtrip", "BM_PoolPingPong/real_time",
                          "BM_MutexDequePingPong/real_time", Goal::AtMost, 1.5);
  bench::declareTimeRatio("queue_roundtrip", "BM_QueuePingPong/real_time",
                          "BM_MutexDequePingPong/real_time", Goal::AtMost, 1.5);
}

}  // namespace
}  // namespace kv4r::stream

KV4R_BENCH_MAIN(kv4r::stream::declareFigures)
