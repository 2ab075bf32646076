#include "viewer/frame_decoder.h"

#include <turbojpeg.h>

#include "formats/frame_record.h"
#include "formats/jpeg_decompressor.h"
#include "viewer/decode_codes.h"

namespace kv4r::viewer {

int frameDecoderInit(FrameDecoder& decoder) {
  if (decoder.handle != nullptr) return 1;
  decoder.handle = tjInitDecompress();
  decoder.init_failed = decoder.handle == nullptr;
  return decoder.init_failed ? kDecodeErrDecoder : 1;
}

void frameDecoderFree(FrameDecoder& decoder) {
  if (decoder.handle != nullptr) tjDestroy(decoder.handle);
  decoder.handle = nullptr;
}

namespace {

// After a frame the library refused, so that one damaged frame does not stop the pane for good.
int refused(FrameDecoder& decoder) {
  decoder.handle = formats::renewDecompressor(decoder.handle);
  decoder.init_failed = decoder.handle == nullptr;
  return kDecodeErrJpeg;
}

}  // namespace

int decodeFrame(FrameDecoder& decoder, std::span<const std::uint8_t> record,
                stream::PictureBuffer* picture) {
  if (decoder.init_failed || decoder.handle == nullptr || picture == nullptr) {
    return kDecodeErrDecoder;
  }
  formats::FrameHeader header;
  if (formats::parseFrameHeader(record, &header) != 1) return kDecodeErrRecord;
  int width = 0;
  int height = 0;
  int subsampling = 0;
  int colorspace = 0;
  const int header_read =
      tjDecompressHeader3(decoder.handle, record.data(), static_cast<unsigned long>(record.size()),
                          &width, &height, &subsampling, &colorspace);
  // A header read with a warning (stray bytes between two segments) describes the picture as well
  // as any; the player and other decoders show such a frame.
  const bool header_warned = header_read != 0 && tjGetErrorCode(decoder.handle) == TJERR_WARNING;
  if ((header_read != 0 && !header_warned) || (header_warned && (width <= 0 || height <= 0))) {
    return refused(decoder);
  }
  if (width <= 0 || height <= 0 || width > stream::kPictureMaxWidth ||
      height > stream::kPictureMaxHeight) {
    return kDecodeErrTooLarge;
  }
  // A damaged scan the library could still finish (a warning) is shown like any other picture.
  if (tjDecompress2(decoder.handle, record.data(), static_cast<unsigned long>(record.size()),
                    stream::pictureBufferPixels(picture), width, width * 3, height, TJPF_BGR,
                    TJFLAG_BOTTOMUP) != 0 &&
      tjGetErrorCode(decoder.handle) != TJERR_WARNING) {
    return refused(decoder);
  }
  picture->width = static_cast<std::uint32_t>(width);
  picture->height = static_cast<std::uint32_t>(height);
  picture->year = header.year;
  picture->month = header.month;
  picture->day = header.day;
  picture->hour = header.hour;
  picture->minute = header.minute;
  picture->second = header.second;
  picture->hundredths = header.hundredths;
  return 1;
}

}  // namespace kv4r::viewer
