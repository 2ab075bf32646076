// A counting semaphore with an initial count and a maximum, as the stream client's pools and queue
// expect: a release that would lift the count above the maximum fails and changes nothing. Built
// on a Linux futex; a release wakes nobody when nobody waits.
// Thread safety: every member may be called from any thread at once.
#pragma once

#include <atomic>
#include <cstdint>

namespace kv4r::platform {

class Semaphore {
 public:
  // The maximum is raised to at least 1 and the initial count is clamped to [0, maximum].
  Semaphore(int initial_count, int maximum_count);
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  // Blocks until the count is above 0, then lowers it by one.
  void acquire();
  // Lowers the count by one if it is above 0; never blocks.
  [[nodiscard]] bool tryAcquire();
  // Raises the count by `count`; false (and no change) if that would pass the maximum or count < 1.
  bool release(int count = 1);
  // The current count, for traces and tests only.
  [[nodiscard]] int count() const;

 private:
  // The address of the count's half of `word_`, on which waiters sleep (a futex is 32 bits).
  std::uint32_t* countHalf();

  // Low 32 bits: the count; high 32 bits: the threads waiting in acquire. Without a lock, a
  // release wakes a sleeper only when there is one, and the sleeper does not then block on a
  // mutex the releaser still holds.
  std::atomic<std::uint64_t> word_;
  const int maximum_;
};

}  // namespace kv4r::platform
