// Bitmap snapshots: a picture as a Windows bitmap file (little-endian): the 14-byte file header
// ("BM", file size, two zero words, pixel offset 54), the 40-byte information header (width,
// positive height for bottom-up rows, 1 plane, 24 bits, no compression, pixel bytes, zero
// resolutions and colour counts) and the picture's rows as stored: blue, green, red, bottom row
// first, each padded with zero bytes to a whole number of 4-byte words as bitmap readers expect
// (no padding at any width the server sends: they are multiples of 4).
//
// Pure functions; the caller holds the pane's picture lock while the picture is read.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "stream/frame_pools.h"

namespace kv4r::viewer {

inline constexpr std::size_t kBitmapHeaderBytes = 54;
inline constexpr std::size_t kBitmapSnapshotBytes = 1244160;  // 720 x 576 x 3

// Writes the 54 header bytes for a width x height picture into `out` (at least 54 bytes).
void writeBitmapHeader(std::span<std::uint8_t, kBitmapHeaderBytes> out, int width, int height);

// The bitmap file of `picture` (header and pixels) into *out. Returns its length, or 0 (and an
// empty *out) for no picture or a picture of size 0.
int buildBitmap(const stream::PictureBuffer* picture, std::vector<std::uint8_t>* out);

}  // namespace kv4r::viewer
