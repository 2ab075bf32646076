// Fixed-block buffer pools. A pool is one allocation that holds a small header and a run of
// equal-sized blocks; frames travel through the client in these blocks without copies and without a
// heap allocation per frame. `poolGet` blocks until a block is free and hands out the block that
// came back last; `termpool` wakes and refuses every thread that waits for a block, so a session
// can stop a receiver that is stuck waiting.
//
// Every function may be called from any thread. Callers hold plain `SBPOOL*` handles (or a
// `UniquePool`); the record itself is private to sbpool.cpp.
#pragma once

#include <memory>

namespace kv4r::stream {

struct SBPOOL;

// Accepted block sizes (bytes, before rounding) and block counts.
inline constexpr int kPoolMinBlockBytes = 4;
inline constexpr int kPoolMaxBlockBytes = 0x200000;  // 2,097,152
inline constexpr int kPoolMinBlocks = 1;
inline constexpr int kPoolMaxBlocks = 200;

// Creates a pool of `block_count` blocks of `block_bytes` each, the size raised to a multiple of 4.
// Returns none for a size outside [4, 2,097,152], a count outside [1, 200] or a failed allocation.
// Every block starts free; the first block in address order is handed out first. Traces the size of
// the pool record ("sizeof(SBPOOL) = %d\n").
[[nodiscard]] SBPOOL* mkpool(int block_bytes, int block_count);

// mkpool, with the blocks placed so that byte `line_aligned_byte` of each block starts a cache line
// (64 bytes). For blocks that are written through whole, such as decoded pictures: rows that start
// on a line are written in whole lines, which costs less in memory that has left the caches. The
// byte must be a multiple of 16 (the blocks stay aligned to 16) inside the block; else none.
[[nodiscard]] SBPOOL* mkpoolLineAligned(int block_bytes, int block_count, int line_aligned_byte);

// Takes a free block and returns the address of its usable bytes (poolBlockSize of them, aligned to
// 16). Blocks without a time-out while every block is handed out. Returns none for no pool, for a
// pool that `termpool` has terminated (at once, even when blocks are free), and to every thread
// that was waiting when `termpool` ran. The caller owns the block until it gives it to poolPut.
[[nodiscard]] void* poolGet(SBPOOL* pool);

// Gives a block from poolGet back to its pool, where it becomes the next block handed out, and
// wakes one waiting poolGet. Returns 1, or 0 for no block or for a block that is not handed out
// (given back twice). Also accepted after termpool; never blocks for long.
int poolPut(void* block);

// Free blocks of the pool (0 for no pool). Read without the lock: for traces and tests only.
[[nodiscard]] int poolFreeCount(const SBPOOL* pool);

// Threads waiting in poolGet of the pool for a block (0 for no pool). Read without the lock: for
// traces and for tests that need to know a thread has started waiting.
[[nodiscard]] int poolWaiters(const SBPOOL* pool);

// Usable bytes of each block (the requested size raised to a multiple of 4), 0 for no pool.
[[nodiscard]] int poolBlockSize(const SBPOOL* pool);

// Blocks in all, 0 for no pool.
[[nodiscard]] int poolBlockCount(const SBPOOL* pool);

// Terminates the pool: it hands out nothing more but still takes blocks back. Wakes every thread
// waiting in poolGet (each returns none) and returns only after each has left; returns how many
// were woken. A pool terminated before returns 0 at once. No pool: traces "freepool: error pool\n"
// and returns 0.
int termpool(SBPOOL* pool);

// Destroys the pool and its blocks; returns 1, or 0 for no pool (traced as "freepool: error pool
// \n"). Threads still waiting in poolGet are woken first, as by termpool. Neither the pool nor any
// of its blocks may be used afterwards, and no thread may be about to call into it.
int freepool(SBPOOL* pool);

// Owns a pool and frees it with freepool.
struct PoolFreer {
  void operator()(SBPOOL* pool) const { (void)freepool(pool); }
};
using UniquePool = std::unique_ptr<SBPOOL, PoolFreer>;

}  // namespace kv4r::stream
