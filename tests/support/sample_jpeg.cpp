#include "tests/support/sample_jpeg.h"

#include <turbojpeg.h>

#include <stdexcept>

namespace kv4r::testing {

std::vector<std::uint8_t> samplePixelsBgr(const SamplePicture& p) {
  std::vector<std::uint8_t> pixels(static_cast<size_t>(p.width) * p.height * 3);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      std::uint8_t* px = &pixels[(static_cast<size_t>(y) * p.width + x) * 3];
      px[0] = static_cast<std::uint8_t>((x * 2 + p.seed * 37) & 0xFF);
      px[1] = static_cast<std::uint8_t>((y * 3 + p.seed * 11) & 0xFF);
      px[2] = static_cast<std::uint8_t>(((x / 16 + y / 16) % 2) ? 200 : 40);
    }
  }
  return pixels;
}

std::vector<std::uint8_t> encodeSampleJpeg(const SamplePicture& p) {
  const std::vector<std::uint8_t> pixels = samplePixelsBgr(p);
  tjhandle handle = tjInitCompress();
  if (!handle) throw std::runtime_error("tjInitCompress failed");
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  const int subsampling = p.grey ? TJSAMP_GRAY : (p.subsample_420 ? TJSAMP_420 : TJSAMP_444);
  const int rc = tjCompress2(handle, pixels.data(), p.width, 0, p.height, TJPF_BGR, &jpeg, &size,
                             subsampling, p.quality, TJFLAG_ACCURATEDCT);
  std::vector<std::uint8_t> bytes;
  if (rc == 0) bytes.assign(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(handle);
  if (bytes.empty()) throw std::runtime_error("tjCompress2 failed");
  return bytes;
}

}  // namespace kv4r::testing
