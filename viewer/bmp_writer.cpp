#include "viewer/bmp_writer.h"

#include <cstring>

namespace kv4r::viewer {
namespace {

void le16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void le32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

void writeBitmapHeader(std::span<std::uint8_t, kBitmapHeaderBytes> out, int width, int height) {
  const std::uint32_t row_bytes = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
  const std::uint32_t pixel_bytes = row_bytes * static_cast<std::uint32_t>(height);
  std::uint8_t* b = out.data();
  std::memset(b, 0, kBitmapHeaderBytes);
  b[0] = 'B';
  b[1] = 'M';
  le32(b + 2, static_cast<std::uint32_t>(kBitmapHeaderBytes) + pixel_bytes);
  le32(b + 10, kBitmapHeaderBytes);
  le32(b + 14, 40);
  le32(b + 18, static_cast<std::uint32_t>(width));
  le32(b + 22, static_cast<std::uint32_t>(height));
  le16(b + 26, 1);
  le16(b + 28, 24);
  le32(b + 34, pixel_bytes);
}

int buildBitmap(const stream::PictureBuffer* picture, std::vector<std::uint8_t>* out) {
  out->clear();
  if (picture == nullptr || picture->width == 0 || picture->height == 0) return 0;
  const int width = static_cast<int>(picture->width);
  const int height = static_cast<int>(picture->height);
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  const std::size_t stride = (row + 3) & ~std::size_t{3};  // rows of the file: whole 4-byte words
  out->assign(kBitmapHeaderBytes + stride * static_cast<std::size_t>(height), 0);
  writeBitmapHeader(std::span<std::uint8_t, kBitmapHeaderBytes>(out->data(), kBitmapHeaderBytes),
                    width, height);
  const auto* pixels = reinterpret_cast<const std::uint8_t*>(picture) + picture->pixel_offset;
  for (int y = 0; y < height; ++y) {
    std::memcpy(out->data() + kBitmapHeaderBytes + stride * y, pixels + row * y, row);
  }
  return static_cast<int>(out->size());
}

}  // namespace kv4r::viewer
