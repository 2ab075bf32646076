// The frame queue: a bounded first-in first-out queue of pointers between the stream session's
// receiving thread and its delivering thread. QGet blocks while the queue is empty; QDestroy wakes
// every waiting QGet (each returns none) before it frees the queue. An empty (null) item travels
// like any other; the session uses one to tell the delivering thread to stop.
//
// Every function may be called from any thread, except that QDestroy must be the last call: no
// thread may be about to call into the queue when it runs (threads already waiting in QGet are
// fine).
#pragma once

#include <memory>

namespace kv4r::stream {

struct FrameQueue;

// Items a queue holds at most.
inline constexpr int kFrameQueueSlots = 128;

// Creates an empty queue; none if the allocation fails.
[[nodiscard]] FrameQueue* QCreate();

// Appends `item` (which may be null). Returns 1, or 0 when the queue is full (128 items) or there
// is no queue. Never blocks for long; wakes a thread that waits in QGet. The queue does not own
// items.
int QPut(FrameQueue* queue, void* item);

// Removes and returns the oldest item. Blocks without a time-out while the queue is empty; returns
// none when the queue is being destroyed (or there is no queue). A null item is returned as null
// too, so callers that queue null items must treat null as "stop".
[[nodiscard]] void* QGet(FrameQueue* queue);

// Closes the queue, wakes every thread waiting in QGet, waits until each has left and frees the
// queue. No queue: nothing. Items still queued are dropped, not freed.
void QDestroy(FrameQueue* queue);

// Threads waiting in QGet, and items queued (0 for no queue). Read without the lock: for traces
// and for tests that need to know a thread has started waiting.
[[nodiscard]] int QWaiters(const FrameQueue* queue);
[[nodiscard]] int QCount(const FrameQueue* queue);

// Owns a queue and destroys it with QDestroy.
struct QueueDestroyer {
  void operator()(FrameQueue* queue) const { QDestroy(queue); }
};
using UniqueQueue = std::unique_ptr<FrameQueue, QueueDestroyer>;

}  // namespace kv4r::stream
