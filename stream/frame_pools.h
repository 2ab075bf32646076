// The live view's two frame pools and the picture block laid out in them.
//
// A receive block holds one frame as it arrives (part header and JPEG record); a picture block
// holds one decoded picture: a 20-byte `PictureBuffer` header, 12 bytes of padding, then up to
// 720 x 576 pixels of 3 bytes (blue, green, red), bottom row first, no row padding. The pools are
// sized from the number of active cameras when a stream starts and released when it stops; the
// receive pool is terminated first so that a receiver waiting for a block wakes.
#pragma once

#include <cstdint>

#include "stream/sbpool.h"

namespace kv4r::stream {

inline constexpr int kReceiveBlockBytes = 102400;
inline constexpr int kPictureMaxWidth = 720;
inline constexpr int kPictureMaxHeight = 576;
inline constexpr int kPictureHeaderBytes = 20;
// The pixel rows start at the first cache line of the block behind the header: see makePicturePool.
inline constexpr int kPicturePixelOffset = 32;
inline constexpr int kPicturePixelBytes = kPictureMaxWidth * kPictureMaxHeight * 3;
inline constexpr int kPictureBlockBytes = kPicturePixelOffset + kPicturePixelBytes;  // 1,244,192

// The header at the start of a picture block. The decoder fills in the size and the capture time.
struct PictureBuffer {
  std::uint32_t width;
  std::uint32_t height;
  std::uint16_t year;  // capture time as the frame record carries it
  std::uint8_t month;
  std::uint8_t day;
  std::uint8_t hour;
  std::uint8_t minute;
  std::uint8_t second;
  std::uint8_t hundredths;
  // Where the pixel rows start, counted in bytes from the start of the block (kPicturePixelOffset).
  std::uint32_t pixel_offset;
};
static_assert(sizeof(PictureBuffer) == kPictureHeaderBytes);

// The pixel rows of a picture block (room for kPicturePixelBytes).
[[nodiscard]] inline std::uint8_t* pictureBufferPixels(PictureBuffer* picture) {
  return reinterpret_cast<std::uint8_t*>(picture) + picture->pixel_offset;
}

// Takes a block from the picture pool (blocking like poolGet) and prepares its header: size and
// capture time 0, pixel area at byte kPicturePixelOffset. Traces "GET RGB BUFF(Free Cnt : %d)\n"
// with the free count. Returns none for no pool or a terminated pool; then the frame is not
// decoded. The caller owns the block and gives it back with poolPut. Called on the delivering
// thread.
[[nodiscard]] PictureBuffer* takePictureBlock(SBPOOL* picture_pool);

// A picture pool of `blocks` blocks of kPictureBlockBytes, whose pixel areas start on a cache line;
// none when it cannot be made.
[[nodiscard]] SBPOOL* makePicturePool(int blocks);

// The pools of one live view. Touched only by the thread that starts and stops the stream.
struct FramePools {
  SBPOOL* picture = nullptr;  // active cameras + 1 blocks of kPictureBlockBytes
  SBPOOL* receive = nullptr;  // active cameras + 3 blocks of kReceiveBlockBytes
};

// Creates the picture pool if there is none (a failure leaves it none: frames are then not
// decoded) and the receive pool. `active_cameras` is 0 to 4. Returns 1, or 0 when the receive pool
// cannot be made (traced as "mkpool error\n"). Expects no receive pool (a fresh record, or one
// that freeFramePools has emptied).
[[nodiscard]] int openFramePools(FramePools& pools, int active_cameras);

// First step of a stop: terminates the receive pool (traced as "termpool\n") so that a receiver
// waiting in poolGet returns none. Returns the number of waiters woken.
int terminateReceivePool(FramePools& pools);

// Last step of a stop, after the session has ended: frees the receive pool, then the picture pool,
// and forgets both. Every picture block still held (a pane's current picture) is gone with it.
void freeFramePools(FramePools& pools);

}  // namespace kv4r::stream
