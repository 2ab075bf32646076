#include "stream/frame_queue.h"

#include <array>
#include <atomic>
#include <climits>
#include <mutex>
#include <new>

#include "platform/semaphore.h"

namespace kv4r::stream {

struct FrameQueue {
  // Under `lock`. Head and tail index the oldest and newest item, both -1 while the queue is empty;
  // indexes advance modulo the slot count.
  std::mutex lock;
  int head = -1;
  int tail = -1;
  bool closed = false;
  std::array<void*, kFrameQueueSlots> slots{};

  // Changed under `lock`, read without it for traces and tests.
  std::atomic<int> count{0};
  std::atomic<int> waiters{0};

  // Released when the queue goes from empty to not empty, and passed on by a waiter that leaves
  // items (or a closed queue) behind for the other waiters. Stale counts only cause a waiter to
  // look once more; the maximum bounds how many can pile up.
  platform::Semaphore items{0, kFrameQueueSlots};
  // One count per waiter that left because the queue was closed; released under `lock`.
  platform::Semaphore exit_acks{0, INT_MAX};
};

FrameQueue* QCreate() {
  return new (std::nothrow) FrameQueue;
}

int QPut(FrameQueue* queue, void* item) {
  if (queue == nullptr) return 0;
  bool was_empty = false;
  {
    std::lock_guard guard(queue->lock);
    const int next = (queue->tail + 1) % kFrameQueueSlots;
    if (next == queue->head) return 0;  // full (head is never -1 here: tail is -1 then, next is 0)
    queue->tail = next;
    queue->slots[next] = item;
    queue->count.fetch_add(1, std::memory_order_relaxed);
    was_empty = queue->head == -1;
    if (was_empty) queue->head = next;
  }
  // Released after the lock, so that the woken thread does not at once block on it. A thread that
  // takes the item in between leaves a stale count, which only makes a waiter look once more.
  if (was_empty) queue->items.release();
  return 1;
}

void* QGet(FrameQueue* queue) {
  if (queue == nullptr) return nullptr;
  std::unique_lock guard(queue->lock);
  for (;;) {
    if (queue->closed) {
      // Wake the next waiter in case a wake-up of QDestroy was lost to a full semaphore, and
      // acknowledge under the lock so that QDestroy cannot free the semaphore mid-release.
      if (queue->waiters.load(std::memory_order_relaxed) > 0) queue->items.release();
      queue->exit_acks.release();
      return nullptr;
    }
    if (queue->head == -1) {
      queue->waiters.fetch_add(1, std::memory_order_relaxed);
      guard.unlock();
      queue->items.acquire();
      guard.lock();
      queue->waiters.fetch_sub(1, std::memory_order_relaxed);
      continue;
    }
    void* item = queue->slots[queue->head];
    queue->slots[queue->head] = nullptr;
    if (queue->head == queue->tail) {
      queue->head = queue->tail = -1;
    } else {
      queue->head = (queue->head + 1) % kFrameQueueSlots;
      // Only the change from empty wakes anyone: hand the wake-up on to the next waiter, or an
      // item could sit in the queue while a thread waits for one.
      if (queue->waiters.load(std::memory_order_relaxed) > 0) queue->items.release();
    }
    queue->count.fetch_sub(1, std::memory_order_relaxed);
    return item;
  }
}

void QDestroy(FrameQueue* queue) {
  if (queue == nullptr) return;
  int waiting = 0;
  {
    std::lock_guard guard(queue->lock);
    waiting = queue->waiters.load(std::memory_order_relaxed);
    queue->closed = true;
    for (int i = 0; i < waiting; ++i) {
      if (!queue->items.release()) break;  // full: the woken waiters pass the wake-up on
    }
  }
  for (int i = 0; i < waiting; ++i) queue->exit_acks.acquire();
  // Every waiter acknowledged under the lock; once the lock is free again none touches the queue.
  { std::lock_guard guard(queue->lock); }
  delete queue;
}

int QWaiters(const FrameQueue* queue) {
  return queue == nullptr ? 0 : queue->waiters.load(std::memory_order_relaxed);
}

int QCount(const FrameQueue* queue) {
  return queue == nullptr ? 0 : queue->count.load(std::memory_order_relaxed);
}

}  // namespace kv4r::stream
