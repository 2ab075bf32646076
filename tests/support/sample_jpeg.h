// Real JPEG pictures for tests, encoded with libjpeg-turbo from a synthetic pattern.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv4r::testing {

struct SamplePicture {
  int width = 352;
  int height = 240;
  int seed = 0;        // changes the pattern, so pictures of different seeds differ
  bool grey = false;   // one-component (greyscale) JPEG
  int quality = 75;
  bool subsample_420 = true;  // 2x2,1x1,1x1 sampling; false gives 4:4:4
};

// The JPEG file bytes (SOI ... EOI). Never empty for sane sizes.
std::vector<std::uint8_t> encodeSampleJpeg(const SamplePicture& picture);

// The BGR pixels (top row first, no padding) the pattern was made from.
std::vector<std::uint8_t> samplePixelsBgr(const SamplePicture& picture);

}  // namespace kv4r::testing
