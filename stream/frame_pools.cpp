#include "stream/frame_pools.h"

#include <algorithm>

#include "platform/trace.h"

namespace kv4r::stream {

PictureBuffer* takePictureBlock(SBPOOL* picture_pool) {
  if (picture_pool == nullptr) return nullptr;
  auto* picture = static_cast<PictureBuffer*>(poolGet(picture_pool));
  if (picture == nullptr) return nullptr;
  *picture = PictureBuffer{};
  picture->pixel_offset = kPictureHeaderBytes;
  platform::traceOut("GET RGB BUFF(Free Cnt : %d)\n", poolFreeCount(picture_pool));
  return picture;
}

int openFramePools(FramePools& pools, int active_cameras) {
  const int cameras = std::clamp(active_cameras, 0, 4);
  if (pools.picture == nullptr) pools.picture = mkpool(kPictureBlockBytes, cameras + 1);
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
