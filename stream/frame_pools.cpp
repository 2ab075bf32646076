#include "stream/frame_pools.h"

#include <algorithm>

#include "platform/trace.h"

namespace kv4r::stream {

PictureBuffer* takePictureBlock(SBPOOL* picture_pool) {
  if (picture_pool == nullptr) return nullptr;
  auto* picture = static_cast<PictureBuffer*>(poolGet(picture_pool));
  if (picture == nullptr) return nullptr;
  *picture = PictureBuffer{};
  picture->pixel_offset = kPicturePixelOffset;
  platform::traceOut("GET RGB BUFF(Free Cnt : %d)\n", poolFreeCount(picture_pool));
  return picture;
}

SBPOOL* makePicturePool(int blocks) {
  // Each picture is written through once per frame, mostly into memory that has left the caches.
  // With the pixel area on a cache line, every row of the usual 704-pixel-wide pictures (2,112
  // bytes) starts on one and is written in whole lines, which was measured to cost a few per cent
  // less of the decoding. (Right behind the 20-byte header the rows could not start on a line: the
  // blocks keep the heap's 16-byte alignment that their headers need.)
  return mkpoolLineAligned(kPictureBlockBytes, blocks, kPicturePixelOffset);
}

int openFramePools(FramePools& pools, int active_cameras) {
  const int cameras = std::clamp(active_cameras, 0, 4);
  if (pools.picture == nullptr) pools.picture = makePicturePool(cameras + 1);
  pools.receive = mkpool(kReceiveBlockBytes, cameras + 3);
  if (pools.receive == nullptr) {
    platform::traceOut("mkpool error\n");
    return 0;
  }
  return 1;
}

int terminateReceivePool(FramePools& pools) {
  if (pools.receive == nullptr) return 0;
  const int woken = termpool(pools.receive);
  platform::traceOut("termpool\n");
  return woken;
}

void freeFramePools(FramePools& pools) {
  if (pools.receive != nullptr) (void)freepool(pools.receive);
  pools.receive = nullptr;
  if (pools.picture != nullptr) (void)freepool(pools.picture);
  pools.picture = nullptr;
}

}  // namespace kv4r::stream
