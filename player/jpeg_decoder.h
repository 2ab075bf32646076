// Turns one JPEG picture held in memory into the player's pixel layout: 24-bit blue, green, red
// pixels, bottom row first, rows of width x 3 bytes without padding (the layout the view draws).
#pragma once

#include <cstdint>

namespace kv4r::player {

// The view's pixel buffer holds 720 x 576 pixels.
inline constexpr int kPictureBufferBytes = 720 * 576 * 3;  // 1,244,160

// Decodes `length` bytes of `jpeg` into `pixels` (room for `capacity` bytes).
// Returns 0 on success and kPlayerFailed (-1) on any failure: missing input or buffer, length or
// capacity <= 0, a picture whose width x height x 3 exceeds the capacity, a colour layout other
// than grey or three-component colour, or any fatal decoder error. A picture cut short before its
// end marker still decodes (the missing end is supplied; the decoder fills in what is missing).
// `width` and `height` (either may be null) are set to 0 first and receive the picture size once it
// is known to fit; on a later decoder error they keep it. Grey pictures are written with equal
// blue, green and red values. Only the first width x height x 3 bytes of `pixels` are written.
// Thread safety: any thread; calls share nothing. Never blocks. Decoder warnings go to the trace.
[[nodiscard]] int DecodeJpegToDib(const std::uint8_t* jpeg, int length, std::uint8_t* pixels,
                                  int capacity, int* width, int* height);

}  // namespace kv4r::player
