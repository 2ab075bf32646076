#include "platform/semaphore.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>

namespace kv4r::platform {
namespace {

constexpr std::uint64_t kCountMask = 0xFFFF'FFFFu;
constexpr std::uint64_t kOneWaiter = std::uint64_t{1} << 32;

int countOf(std::uint64_t word) {
  return static_cast<int>(word & kCountMask);
}

std::uint64_t waitersOf(std::uint64_t word) {
  return word >> 32;
}

}  // namespace

Semaphore::Semaphore(int initial_count, int maximum_count) : maximum_(std::max(1, maximum_count)) {
  word_.store(static_cast<std::uint64_t>(std::clamp(initial_count, 0, maximum_)));
}

std::uint32_t* Semaphore::countHalf() {
  auto* halves = reinterpret_cast<std::uint32_t*>(&word_);
  return std::endian::native == std::endian::little ? halves : halves + 1;
}

void Semaphore::acquire() {
  std::uint64_t word = word_.load(std::memory_order_relaxed);
  while (countOf(word) > 0) {
    if (word_.compare_exchange_weak(word, word - 1, std::memory_order_acquire)) return;
  }
  // Registered as a waiter in the same word as the count: a release sees it in its own atomic step.
  word = word_.fetch_add(kOneWaiter, std::memory_order_relaxed) + kOneWaiter;
  for (;;) {
    while (countOf(word) == 0) {
      // Sleeps only while the count half is still 0, so a release between the load and the
      // sleep is never missed.
      syscall(SYS_futex, countHalf(), FUTEX_WAIT_PRIVATE, 0, nullptr, nullptr, 0);
      word = word_.load(std::memory_order_relaxed);
    }
    if (word_.compare_exchange_weak(word, word - 1 - kOneWaiter, std::memory_order_acquire)) {
      return;
    }
  }
}

bool Semaphore::tryAcquire() {
  std::uint64_t word = word_.load(std::memory_order_relaxed);
  while (countOf(word) > 0) {
    if (word_.compare_exchange_weak(word, word - 1, std::memory_order_acquire)) return true;
  }
  return false;
}

// After the count is raised a woken thread may destroy the semaphore at once, so nothing here
// reads it again: whether to wake comes from the same atomic step, and the wake is a system call
// on the address alone (on a reused address it can only cause a spurious wake-up, which every
// futex waiter tolerates).
bool Semaphore::release(int count) {
  if (count < 1) return false;
  std::uint32_t* const futex_word = countHalf();
  std::uint64_t word = word_.load(std::memory_order_relaxed);
  do {
    if (count > maximum_ - countOf(word)) return false;
  } while (!word_.compare_exchange_weak(word, word + static_cast<std::uint64_t>(count),
                                        std::memory_order_release));
  // While the count was above 0, as many waiters as it held were awake already (woken by the
  // releases that raised it, or not asleep yet): only the waiters beyond it may sleep. Waking those
  // alone spares a system call per release when the woken thread has not run yet.
  const std::uint64_t available = static_cast<std::uint64_t>(countOf(word));
  if (waitersOf(word) > available) {
    const int wake = static_cast<int>(std::min<std::uint64_t>(waitersOf(word) - available, count));
    syscall(SYS_futex, futex_word, FUTEX_WAKE_PRIVATE, wake, nullptr, nullptr, 0);
  }
  return true;
}

int Semaphore::count() const {
  return countOf(word_.load(std::memory_order_relaxed));
}

}  // namespace kv4r::platform
