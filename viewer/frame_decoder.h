// A pane's JPEG decoder: turns a frame record (a complete JPEG file) into a picture block of the
// picture pool: 3 bytes a pixel in blue, green, red order, bottom row first, no row padding, with
// the record's size and capture time in the block header. Grey pictures come out as three equal
// channels.
//
// A decoder belongs to one pane and is used only on the delivering thread; it is created with the
// pane's decoding state and freed with it.
#pragma once

#include <cstdint>
#include <span>

#include "stream/frame_pools.h"

namespace kv4r::viewer {

struct FrameDecoder {
  void* handle = nullptr;    // the JPEG library's decompressor
  bool init_failed = false;  // creating it failed: every decode of this pane fails
};

// Creates the decompressor. 1, or kDecodeErrDecoder (then init_failed is set).
int frameDecoderInit(FrameDecoder& decoder);

// Frees the decompressor (a decoder without one is left alone).
void frameDecoderFree(FrameDecoder& decoder);

// Decodes `record` into `picture` (a prepared picture block). Returns 1, or kDecodeErrDecoder,
// kDecodeErrJpeg (bytes the library refused), kDecodeErrTooLarge (more than 720 x 576 pixels),
// kDecodeErrRecord (fewer than the record's 60 fixed bytes). On failure the picture's size stays
// 0 x 0.
[[nodiscard]] int decodeFrame(FrameDecoder& decoder, std::span<const std::uint8_t> record,
                              stream::PictureBuffer* picture);

}  // namespace kv4r::viewer
