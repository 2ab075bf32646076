// JPEG encoding and decoding for the server's pictures (libjpeg-turbo).
//
// Every encoder here writes baseline JPEG with 2x2, 1x1, 1x1 sampling and the standard Huffman
// tables of ITU-T T.81 Annex K, so that each picture's tables fill exactly the 603-byte table block
// of a frame record. Pure functions; any thread (each call uses its own codec handle).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sim/picture_maker.h"

namespace kv4r::sim {

// Encodes at a JPEG quality 1..100 (TurboJPEG). Returns the JPEG's length, or kSimErrPicture.
[[nodiscard]] int encodePlainJpeg(const Picture& picture, int quality,
                                  std::vector<std::uint8_t>* jpeg);

// Encodes with exactly the quantisation tables a receiver's rebuild inserts for `factor` (see
// sim/header_params.h), without a JFIF segment (libjpeg). Returns the length, or kSimErrPicture.
[[nodiscard]] int encodeRebuildJpeg(const Picture& picture, bool linux_variant, int factor,
                                    std::vector<std::uint8_t>* jpeg);

// Decodes any JPEG to RGB. Returns 1, or kSimErrPicture.
[[nodiscard]] int decodeJpeg(std::span<const std::uint8_t> jpeg, Picture* picture);

}  // namespace kv4r::sim
