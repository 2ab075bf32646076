// The size conversions of special picture sizes, applied in place to a decoded picture by the
// painter before it draws and used by the layout: 704 x 240 and 704 x 288 are doubled in height
// (every second row the average of its neighbours), 352 x 112 and 352 x 144 are halved in width
// (the first pixel of every pair is kept). Other sizes stay as they are.
//
// Threads: the caller holds the pane's picture lock while converting. Pure otherwise.
#pragma once

#include "stream/frame_pools.h"

namespace kv4r::viewer {

struct PictureSize {
  int width = 0;
  int height = 0;
  bool operator==(const PictureSize&) const = default;
};

// The size a picture of `size` has after its conversion.
[[nodiscard]] PictureSize convertedPictureSize(PictureSize size);

// Converts `picture` in place and updates its width or height, so a picture is converted once
// however often it is painted. Returns 1 when it was converted, 0 when its size needs none (or
// for nullptr).
int convertPicture(stream::PictureBuffer* picture);

}  // namespace kv4r::viewer
