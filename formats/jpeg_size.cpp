#include <turbojpeg.h>

#include <vector>

#include "formats/clip_export.h"
#include "formats/formats_codes.h"

namespace kv4r::formats {

namespace {
constexpr long kScratchBytes = 1244160;  // 720 x 576 pixels x 3 bytes
}

int decodeJpegSize(std::span<const std::uint8_t> jpeg, int* width, int* height) {
  if (jpeg.empty() || !width || !height) return kFormatsErrArgument;
  tjhandle handle = tjInitDecompress();
  if (!handle) return kFormatsErrBadJpeg;
  int result = kFormatsErrBadJpeg;
  int w = 0, h = 0, subsampling = 0, colorspace = 0;
  // A header read with a warning (stray bytes between segments) still describes the picture, as
  // the live view that recorded it took it.
  const bool header_read =
      tjDecompressHeader3(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), &w, &h,
                          &subsampling, &colorspace) == 0 ||
      tjGetErrorCode(handle) == TJERR_WARNING;
  if (header_read && w > 0 && h > 0 && static_cast<long>(w) * h * 3 <= kScratchBytes) {
    std::vector<unsigned char> scratch(static_cast<std::size_t>(w) * h * 3);
    // A warning (for instance a missing end marker) still yields a picture, as in the player.
    if (tjDecompress2(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), scratch.data(),
                      w, 0, h, TJPF_BGR, TJFLAG_BOTTOMUP) == 0 ||
        tjGetErrorCode(handle) == TJERR_WARNING) {
      *width = w;
      *height = h;
      result = 0;
    }
  }
  tjDestroy(handle);
  return result;
}

}  // namespace kv4r::formats
