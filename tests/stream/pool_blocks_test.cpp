#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/trace.h"
#include "stream/sbpool.h"

namespace kv4r::stream {
namespace {

TEST(PoolMake, RefusesSizesAndCountsOutsideTheLimits) {
  EXPECT_EQ(mkpool(3, 4), nullptr);
  EXPECT_EQ(mkpool(2097153, 1), nullptr);
  EXPECT_EQ(mkpool(-4, 1), nullptr);
  EXPECT_EQ(mkpool(16, 0), nullptr);
  EXPECT_EQ(mkpool(16, 201), nullptr);
  EXPECT_EQ(mkpool(16, -1), nullptr);

  UniquePool smallest(mkpool(4, 200));
  ASSERT_NE(smallest, nullptr);
  EXPECT_EQ(poolBlockSize(smallest.get()), 4);
  EXPECT_EQ(poolFreeCount(smallest.get()), 200);
  UniquePool largest(mkpool(2097152, 1));
  ASSERT_NE(largest, nullptr);
  EXPECT_EQ(poolBlockSize(largest.get()), 2097152);
  EXPECT_EQ(poolBlockCount(largest.get()), 1);
}

TEST(PoolBlocks, SizeFiveGivesEightUsableBytesInSeparateBlocksInAddressOrder) {
  UniquePool pool(mkpool(5, 3));
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(poolBlockSize(pool.get()), 8);

  unsigned char* blocks[3];
  for (int i = 0; i < 3; ++i) {
    blocks[i] = static_cast<unsigned char*>(poolGet(pool.get()));
    ASSERT_NE(blocks[i], nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(blocks[i]) % 16, 0u);
    if (i > 0) {
      EXPECT_GE(blocks[i], blocks[i - 1] + 8);
    }
    std::memset(blocks[i], 'a' + i, 8);
  }
  EXPECT_EQ(poolFreeCount(pool.get()), 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(std::string(reinterpret_cast<char*>(blocks[i]), 8), std::string(8, 'a' + i));
    EXPECT_EQ(poolPut(blocks[i]), 1);
  }
  EXPECT_EQ(poolFreeCount(pool.get()), 3);
}

TEST(PoolBlocks, LineAlignedPoolPutsTheChosenByteOfEveryBlockOnACacheLine) {
  EXPECT_EQ(mkpoolLineAligned(100, 2, -16), nullptr);
  EXPECT_EQ(mkpoolLineAligned(100, 2, 20), nullptr);  // blocks keep their alignment to 16
  EXPECT_EQ(mkpoolLineAligned(100, 2, 112), nullptr);
  EXPECT_EQ(mkpoolLineAligned(2097153, 1, 0), nullptr);
  for (const int aligned_byte : {0, 16, 48, 96}) {
    UniquePool pool(mkpoolLineAligned(100, 5, aligned_byte));
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(poolBlockSize(pool.get()), 100);
    unsigned char* blocks[5];
    for (int i = 0; i < 5; ++i) {
      blocks[i] = static_cast<unsigned char*>(poolGet(pool.get()));
      ASSERT_NE(blocks[i], nullptr);
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(blocks[i] + aligned_byte) % 64, 0u);
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(blocks[i]) % 16, 0u);
      std::memset(blocks[i], 'a' + i, 100);
    }
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(blocks[i]), 100), std::string(100, 'a' + i));
      EXPECT_EQ(poolPut(blocks[i]), 1);
    }
  }
}

TEST(PoolBlocks, LastReturnedBlockIsHandedOutFirst) {
  UniquePool pool(mkpool(32, 3));
  void* a = poolGet(pool.get());
  void* b = poolGet(pool.get());
  void* c = poolGet(pool.get());
  EXPECT_EQ(poolPut(b), 1);
  EXPECT_EQ(poolPut(a), 1);
  EXPECT_EQ(poolGet(pool.get()), a);
  EXPECT_EQ(poolGet(pool.get()), b);
  EXPECT_EQ(poolPut(c), 1);
  EXPECT_EQ(poolGet(pool.get()), c);
}

TEST(PoolBlocks, BlockGivenBackTwiceIsRefusedAndTheFreeListStaysWhole) {
  UniquePool pool(mkpool(32, 2));
  void* a = poolGet(pool.get());
  EXPECT_EQ(poolPut(a), 1);
  EXPECT_EQ(poolPut(a), 0);
  EXPECT_EQ(poolPut(nullptr), 0);
  EXPECT_EQ(poolFreeCount(pool.get()), 2);
  void* first = poolGet(pool.get());
  void* second = poolGet(pool.get());
  EXPECT_NE(first, second);
  EXPECT_EQ(poolFreeCount(pool.get()), 0);
}

TEST(PoolBlocks, MissingPoolIsRefusedAndTraced) {
  platform::setTraceEnabled(true);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(poolGet(nullptr), nullptr);
  EXPECT_EQ(poolFreeCount(nullptr), 0);
  EXPECT_EQ(termpool(nullptr), 0);
  EXPECT_EQ(freepool(nullptr), 0);
  SBPOOL* pool = mkpool(8, 1);
  const std::string out = ::testing::internal::GetCapturedStdout();
  platform::setTraceEnabled(false);
  EXPECT_EQ(out.rfind("freepool: error pool\nfreepool: error pool \nsizeof(SBPOOL) = ", 0), 0u)
      << out;
  EXPECT_EQ(freepool(pool), 1);
}

}  // namespace
}  // namespace kv4r::stream
