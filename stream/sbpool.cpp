#include "stream/sbpool.h"

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>

#include "platform/semaphore.h"
#include "platform/trace.h"

namespace kv4r::stream {
namespace {

// Blocks and their headers are aligned like the heap aligns, so a block can hold any record.
constexpr std::size_t kBlockAlign = 16;

// Sits in front of every block. While the block is free, `next_free` links the free list; while it
// is handed out, `owner` names its pool so that poolPut needs nothing but the block.
struct BlockHeader {
  union {
    BlockHeader* next_free;
    SBPOOL* owner;
  };
  std::int32_t extra_refs;   // set to 0 when handed out; a put with refs > 0 only lowers it
  std::uint32_t handed_out;  // 1 from poolGet to poolPut
};
static_assert(sizeof(BlockHeader) == kBlockAlign);

constexpr std::size_t roundUp(std::size_t n, std::size_t to) {
  return (n + to - 1) / to * to;
}

BlockHeader* headerOf(void* block) {
  return reinterpret_cast<BlockHeader*>(static_cast<std::byte*>(block) - sizeof(BlockHeader));
}

void* usableBytesOf(BlockHeader* header) {
  return reinterpret_cast<std::byte*>(header) + sizeof(BlockHeader);
}

}  // namespace

struct SBPOOL {
  SBPOOL(int bytes, int count)
      : block_bytes(bytes),
        block_count(count),
        free_count(count),
        free_blocks(count, INT_MAX),
        exit_acks(0, INT_MAX) {}

  // Set at creation, read by anyone.
  const int block_bytes;
  const int block_count;

  // Under `lock`. (A mutex: the lock only ever excludes, and unlike a semaphore it may be destroyed
  // as soon as the last holder has let go.)
  std::mutex lock;
  bool alive = true;
  BlockHeader* free_head = nullptr;

  // Changed under `lock`, read without it for traces and tests.
  std::atomic<int> waiters{0};
  std::atomic<int> free_count;

  // One count per free block not yet claimed, plus one per waiter that termination wakes; the
  // maximum leaves room for waking any number of waiters.
  platform::Semaphore free_blocks;
  // One count per woken waiter that has left poolGet; released under `lock`.
  platform::Semaphore exit_acks;
};

namespace {

constexpr std::size_t kPoolRecordBytes = roundUp(sizeof(SBPOOL), kBlockAlign);

// Marks the pool terminated and wakes every thread that waits in poolGet, then waits until each has
// left. Returns how many were woken; 0 if the pool had been terminated already (its waiters were
// woken then, and no thread starts waiting in a terminated pool).
int terminate(SBPOOL* pool) {
  int woken = 0;
  {
    std::lock_guard guard(pool->lock);
    if (!pool->alive) return 0;
    pool->alive = false;
    woken = pool->waiters.load(std::memory_order_relaxed);
    if (woken > 0) pool->free_blocks.release(woken);
  }
  for (int i = 0; i < woken; ++i) pool->exit_acks.acquire();
  return woken;
}

constexpr std::size_t kCacheLineBytes = 64;
constexpr int kNoLineAlignment = -1;

// mkpool; with `line_aligned_byte` >= 0 the blocks are placed so that that byte of each starts a
// cache line.
SBPOOL* makePool(int block_bytes, int block_count, int line_aligned_byte) {
  if (block_bytes < kPoolMinBlockBytes || block_bytes > kPoolMaxBlockBytes) return nullptr;
  if (block_count < kPoolMinBlocks || block_count > kPoolMaxBlocks) return nullptr;
  if (line_aligned_byte >= block_bytes) return nullptr;
  const bool line_aligned = line_aligned_byte >= 0;
  const int raised_bytes = static_cast<int>(roundUp(static_cast<std::size_t>(block_bytes), 4));
  std::size_t stride = sizeof(BlockHeader) + roundUp(raised_bytes, kBlockAlign);
  if (line_aligned) stride = roundUp(stride, kCacheLineBytes);
  // A line-aligned pool has room to move its first block up to a line further on.
  const std::size_t shift_room = line_aligned ? kCacheLineBytes : 0;
  const std::size_t total =
      kPoolRecordBytes + shift_room + stride * static_cast<std::size_t>(block_count);

  void* memory = ::operator new (total, std::align_val_t{kBlockAlign}, std::nothrow);
  if (memory == nullptr) return nullptr;
  auto* pool = new (memory) SBPOOL(raised_bytes, block_count);
  platform::traceOut("sizeof(SBPOOL) = %d\n", static_cast<int>(sizeof(SBPOOL)));

  std::byte* first = static_cast<std::byte*>(memory) + kPoolRecordBytes;
  if (line_aligned) {
    const std::uintptr_t aligned_at = reinterpret_cast<std::uintptr_t>(first) +
                                      sizeof(BlockHeader) +
                                      static_cast<std::uintptr_t>(line_aligned_byte);
    first += (kCacheLineBytes - aligned_at % kCacheLineBytes) % kCacheLineBytes;
  }
  // Chain the blocks in address order: the first block heads the free list.
  BlockHeader* next = nullptr;
  for (int i = block_count - 1; i >= 0; --i) {
    auto* header = new (first + stride * static_cast<std::size_t>(i)) BlockHeader{};
    header->next_free = next;
    next = header;
  }
  pool->free_head = next;
  return pool;
}

}  // namespace

SBPOOL* mkpool(int block_bytes, int block_count) {
  return makePool(block_bytes, block_count, kNoLineAlignment);
}

SBPOOL* mkpoolLineAligned(int block_bytes, int block_count, int line_aligned_byte) {
  if (line_aligned_byte < 0 || line_aligned_byte % static_cast<int>(kBlockAlign) != 0) {
    return nullptr;
  }
  return makePool(block_bytes, block_count, line_aligned_byte);
}

namespace {

// Unlinks the head of the free list for a caller that holds the lock and has claimed a count.
void* takeHead(SBPOOL* pool) {
  BlockHeader* header = pool->free_head;
  if (header == nullptr) return nullptr;  // cannot happen: every count stands for a free block
  pool->free_head = header->next_free;
  header->owner = pool;
  header->extra_refs = 0;
  header->handed_out = 1;
  pool->free_count.fetch_sub(1, std::memory_order_relaxed);
  return usableBytesOf(header);
}

}  // namespace

void* poolGet(SBPOOL* pool) {
  if (pool == nullptr) return nullptr;
  {
    std::lock_guard guard(pool->lock);
    if (!pool->alive) return nullptr;
    // A block that is free and unclaimed is taken at once, without counting as a waiter.
    if (pool->free_blocks.tryAcquire()) return takeHead(pool);
    pool->waiters.fetch_add(1, std::memory_order_relaxed);
  }
  pool->free_blocks.acquire();

  std::lock_guard guard(pool->lock);
  pool->waiters.fetch_sub(1, std::memory_order_relaxed);
  if (!pool->alive) {
    // Acknowledge under the lock, so that freepool (which takes the lock once more) cannot free
    // the semaphore while this release is still running.
    pool->exit_acks.release();
    return nullptr;
  }
  return takeHead(pool);
}

int poolPut(void* block) {
  if (block == nullptr) return 0;
  BlockHeader* header = headerOf(block);
  if (header->handed_out != 1) {
    platform::traceErr("poolPut: block is not handed out\n");
    return 0;
  }
  SBPOOL* pool = header->owner;
  {
    std::lock_guard guard(pool->lock);
    if (header->extra_refs > 0) {
      --header->extra_refs;
      return 1;
    }
    header->handed_out = 0;
    header->next_free = pool->free_head;
    pool->free_head = header;
    pool->free_count.fetch_add(1, std::memory_order_relaxed);
  }
  // Released after the lock, so that the woken thread does not at once block on it.
  pool->free_blocks.release();
  return 1;
}

int poolFreeCount(const SBPOOL* pool) {
  return pool == nullptr ? 0 : pool->free_count.load(std::memory_order_relaxed);
}

int poolWaiters(const SBPOOL* pool) {
  return pool == nullptr ? 0 : pool->waiters.load(std::memory_order_relaxed);
}

int poolBlockSize(const SBPOOL* pool) {
  return pool == nullptr ? 0 : pool->block_bytes;
}

int poolBlockCount(const SBPOOL* pool) {
  return pool == nullptr ? 0 : pool->block_count;
}

int termpool(SBPOOL* pool) {
  if (pool == nullptr) {
    platform::traceOut("freepool: error pool\n");
    return 0;
  }
  return terminate(pool);
}

int freepool(SBPOOL* pool) {
  if (pool == nullptr) {
    platform::traceOut("freepool: error pool \n");
    return 0;
  }
  (void)terminate(pool);
  // Every woken waiter acknowledged under the lock; once the lock is free again none touches the
  // pool any more.
  { std::lock_guard guard(pool->lock); }
  pool->~SBPOOL();
  ::operator delete (pool, std::align_val_t{kBlockAlign});
  return 1;
}

}  // namespace kv4r::stream
