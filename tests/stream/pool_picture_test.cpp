#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>

#include "stream/frame_pools.h"

namespace kv4r::stream {
namespace {

TEST(FramePools, AreSizedFromTheActiveCameras) {
  FramePools pools;
  ASSERT_EQ(openFramePools(pools, 2), 1);
  EXPECT_EQ(poolBlockCount(pools.picture), 3);
  EXPECT_EQ(poolBlockSize(pools.picture), 1244192);
  EXPECT_EQ(poolBlockCount(pools.receive), 5);
  EXPECT_EQ(poolBlockSize(pools.receive), 102400);
  freeFramePools(pools);
  EXPECT_EQ(pools.picture, nullptr);
  EXPECT_EQ(pools.receive, nullptr);

  // A picture pool that is still there is kept.
  SBPOOL* kept = mkpool(kPictureBlockBytes, 1);
  pools.picture = kept;
  ASSERT_EQ(openFramePools(pools, 0), 1);
  EXPECT_EQ(pools.picture, kept);
  EXPECT_EQ(poolBlockCount(pools.receive), 3);
  freeFramePools(pools);
}

TEST(FramePools, PixelAreasStartOnCacheLinesAndHoldAWholePicture) {
  FramePools pools;
  ASSERT_EQ(openFramePools(pools, 4), 1);
  std::uint8_t* pixels[5];
  for (std::uint8_t*& p : pixels) {
    PictureBuffer* picture = takePictureBlock(pools.picture);
    ASSERT_NE(picture, nullptr);
    p = pictureBufferPixels(picture);
    // Rows of 704 pixels start on cache lines when the pixel area does.
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 64, 0u);
    std::memset(p, 0x5A, kPicturePixelBytes);  // every byte of every picture can be written
  }
  for (std::uint8_t* p : pixels) {
    EXPECT_EQ(p[0], 0x5A);
    EXPECT_EQ(p[kPicturePixelBytes - 1], 0x5A);
  }
  for (std::uint8_t* p : pixels) {
    EXPECT_EQ(poolPut(p - kPicturePixelOffset), 1);
  }
  freeFramePools(pools);
}

TEST(FramePools, TakenPictureBlockIsPreparedEvenWhenReused) {
  FramePools pools;
  ASSERT_EQ(openFramePools(pools, 1), 1);
  PictureBuffer* pictures[2];
  for (PictureBuffer*& picture : pictures) {
    picture = takePictureBlock(pools.picture);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->pixel_offset, 32u);
    std::uint8_t* pixels = pictureBufferPixels(picture);
    EXPECT_EQ(pixels, reinterpret_cast<std::uint8_t*>(picture) + kPicturePixelOffset);
    pixels[0] = 1;
    pixels[kPicturePixelBytes - 1] = 2;  // the last byte of a full 720 x 576 picture
    picture->width = 720;
    picture->height = 576;
    picture->year = 2024;
  }
  EXPECT_EQ(poolPut(pictures[1]), 1);
  PictureBuffer* again = takePictureBlock(pools.picture);
  ASSERT_EQ(again, pictures[1]);
  EXPECT_EQ(again->width, 0u);
  EXPECT_EQ(again->height, 0u);
  EXPECT_EQ(again->year, 0u);
  EXPECT_EQ(again->pixel_offset, 32u);
  freeFramePools(pools);
  EXPECT_EQ(takePictureBlock(nullptr), nullptr);
}

TEST(FramePools, StopWakesAReceiverWaitingForABlock) {
  FramePools pools;
  ASSERT_EQ(openFramePools(pools, 0), 1);
  void* held[3];
  for (void*& block : held) block = poolGet(pools.receive);
  void* got = held[0];
  std::thread receiver([&] { got = poolGet(pools.receive); });
  while (poolWaiters(pools.receive) != 1) std::this_thread::yield();
  EXPECT_EQ(terminateReceivePool(pools), 1);
  receiver.join();
  EXPECT_EQ(got, nullptr);
  for (void* block : held) EXPECT_EQ(poolPut(block), 1);
  freeFramePools(pools);
}

}  // namespace
}  // namespace kv4r::stream
