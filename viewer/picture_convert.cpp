#include "viewer/picture_convert.h"

#include <cstdint>
#include <cstring>

namespace kv4r::viewer {
namespace {

bool needsLineDoubling(PictureSize size) {
  return size.width == 704 && (size.height == 240 || size.height == 288);
}

bool needsHalving(PictureSize size) {
  return size.width == 352 && (size.height == 112 || size.height == 144);
}

}  // namespace

PictureSize convertedPictureSize(PictureSize size) {
  if (needsLineDoubling(size)) return {size.width, size.height * 2};
  if (needsHalving(size)) return {size.width / 2, size.height};
  return size;
}

int convertPicture(stream::PictureBuffer* picture) {
  if (picture == nullptr) return 0;
  const PictureSize size{static_cast<int>(picture->width), static_cast<int>(picture->height)};
  std::uint8_t* pixels = stream::pictureBufferPixels(picture);
  if (needsLineDoubling(size)) {
    const std::size_t row_bytes = static_cast<std::size_t>(size.width) * 3;
    auto row = [&](int k) { return pixels + static_cast<std::size_t>(k) * row_bytes; };
    // From the last row down, so no source row is overwritten before it is read.
    for (int k = size.height - 1; k >= 1; --k) {
      std::memcpy(row(2 * k + 1), row(k), row_bytes);
      const std::uint8_t* upper = row(k);
      const std::uint8_t* lower = row(k - 1);
      std::uint8_t* out = row(2 * k);
      for (std::size_t i = 0; i < row_bytes; ++i) {
        out[i] = static_cast<std::uint8_t>((upper[i] + lower[i]) >> 1);
      }
    }
    std::memcpy(row(1), row(0), row_bytes);
    picture->height = static_cast<std::uint32_t>(size.height * 2);
    return 1;
  }
  if (needsHalving(size)) {
    const int out_width = size.width / 2;
    for (int y = 0; y < size.height; ++y) {
      const std::uint8_t* in = pixels + static_cast<std::size_t>(y) * size.width * 3;
      std::uint8_t* out = pixels + static_cast<std::size_t>(y) * out_width * 3;
      // Forward: every output pixel lies at or before the input pixel it comes from.
      for (int x = 0; x < out_width; ++x) std::memmove(out + x * 3, in + x * 6, 3);
    }
    picture->width = static_cast<std::uint32_t>(out_width);
    return 1;
  }
  return 0;
}

}  // namespace kv4r::viewer
