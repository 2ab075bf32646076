#include "player/jpeg_decoder.h"

#include "platform/trace.h"
#include "player/player_codes.h"

// clang-format off
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <csetjmp>
#include <cstring>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace kv4r::player {
namespace {

constexpr std::size_t kSourcePieceBytes = 4096;
constexpr int kMaxLinesPerRead = 16;  // the most lines one read can produce (4:1 vertical)

// Error manager whose fatal exit jumps back into DecodeJpegToDib.
struct JumpErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf back;
};

// Memory source: offers the input in pieces of at most 4,096 bytes through a work buffer. When the
// input runs out it warns of the premature end and supplies an end-of-image marker; an input that
// yields no byte at all is the decoder's empty-input error.
struct PieceSource {
  jpeg_source_mgr base;
  const std::uint8_t* data;
  std::size_t length;
  std::size_t offset;  // first byte not yet copied into the work buffer
  bool delivered_any;
  JOCTET work[kSourcePieceBytes];
};

[[noreturn]] void jumpBack(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JumpErrorManager*>(cinfo->err);
  std::longjmp(err->back, 1);
}

void traceMessage(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  platform::traceErr("jpeg: %s\n", text);
}

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillInput(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<PieceSource*>(cinfo->src);
  const std::size_t left = src->length - src->offset;
  if (left == 0) {
    if (!src->delivered_any) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->work[0] = 0xFF;
    src->work[1] = JPEG_EOI;
    src->base.next_input_byte = src->work;
    src->base.bytes_in_buffer = 2;
    return TRUE;
  }
  const std::size_t piece = left < kSourcePieceBytes ? left : kSourcePieceBytes;
  std::memcpy(src->work, src->data + src->offset, piece);
  src->offset += piece;
  src->delivered_any = true;
  src->base.next_input_byte = src->work;
  src->base.bytes_in_buffer = piece;
  return TRUE;
}

void skipInput(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  auto* src = reinterpret_cast<PieceSource*>(cinfo->src);
  std::size_t to_skip = static_cast<std::size_t>(count);
  while (to_skip > src->base.bytes_in_buffer) {
    to_skip -= src->base.bytes_in_buffer;
    fillInput(cinfo);  // never suspends: either a piece or the supplied end marker
  }
  src->base.next_input_byte += to_skip;
  src->base.bytes_in_buffer -= to_skip;
}

void attachSource(j_decompress_ptr cinfo, PieceSource* src, const std::uint8_t* data,
                  std::size_t length) {
  src->base.init_source = initSource;
  src->base.fill_input_buffer = fillInput;
  src->base.skip_input_data = skipInput;
  src->base.resync_to_restart = jpeg_resync_to_restart;
  src->base.term_source = termSource;
  src->base.next_input_byte = nullptr;
  src->base.bytes_in_buffer = 0;
  src->data = data;
  src->length = length;
  src->offset = 0;
  src->delivered_any = false;
  cinfo->src = &src->base;
}

// The decoding proper. Everything that lives across the jump is a plain object of the caller's
// frame, so a fatal error leaves nothing to unwind.
int decode(jpeg_decompress_struct* cinfo, JumpErrorManager* err, PieceSource* src,
           const std::uint8_t* jpeg, int length, std::uint8_t* pixels, int capacity, int* width,
           int* height) {
  cinfo->err = jpeg_std_error(&err->base);
  err->base.error_exit = jumpBack;
  err->base.output_message = traceMessage;
  if (setjmp(err->back)) {
    jpeg_destroy_decompress(cinfo);
    return kPlayerFailed;
  }
  jpeg_create_decompress(cinfo);
  attachSource(cinfo, src, jpeg, static_cast<std::size_t>(length));
  jpeg_read_header(cinfo, TRUE);

  // Blue, green, red straight from the decoder; grey stays one component and is spread below.
  if (cinfo->jpeg_color_space == JCS_YCbCr || cinfo->jpeg_color_space == JCS_RGB) {
    cinfo->out_color_space = JCS_EXT_BGR;
  } else if (cinfo->jpeg_color_space != JCS_GRAYSCALE) {
    jpeg_destroy_decompress(cinfo);
    return kPlayerFailed;
  }
  // The size is known before the decoder allocates its picture-sized work areas, so an oversized
  // picture is refused without them.
  jpeg_calc_output_dimensions(cinfo);
  const std::size_t out_width = cinfo->output_width;
  const std::size_t out_height = cinfo->output_height;
  if (out_width * out_height * 3 > static_cast<std::size_t>(capacity)) {
    jpeg_destroy_decompress(cinfo);
    return kPlayerFailed;
  }
  jpeg_start_decompress(cinfo);
  const int components = cinfo->output_components;
  if (components != 1 && components != 3) {
    jpeg_destroy_decompress(cinfo);
    return kPlayerFailed;
  }
  if (width) *width = static_cast<int>(out_width);
  if (height) *height = static_cast<int>(out_height);

  // Scan line n (counted from 1 after it was read) goes to row height - n: bottom row first.
  const std::size_t row_bytes = out_width * 3;
  if (components == 3) {
    // Colour lines are delivered in their final layout, straight into their rows, as many per call
    // as the decoder produces at once (a pair of lines for vertically subsampled colour).
    JSAMPROW rows[kMaxLinesPerRead];
    while (cinfo->output_scanline < cinfo->output_height) {
      const std::size_t first = cinfo->output_scanline;
      const std::size_t batch =
          std::min<std::size_t>({static_cast<std::size_t>(kMaxLinesPerRead), out_height - first,
                                 static_cast<std::size_t>(cinfo->rec_outbuf_height)});
      for (std::size_t i = 0; i < batch; ++i) {
        rows[i] = pixels + (out_height - (first + i + 1)) * row_bytes;
      }
      jpeg_read_scanlines(cinfo, rows, static_cast<JDIMENSION>(batch));
    }
  } else {
    JSAMPARRAY line = (*cinfo->mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, static_cast<JDIMENSION>(out_width), 1);
    while (cinfo->output_scanline < cinfo->output_height) {
      jpeg_read_scanlines(cinfo, line, 1);
      std::uint8_t* out = pixels + (out_height - cinfo->output_scanline) * row_bytes;
      for (std::size_t x = 0; x < out_width; ++x) {
        const std::uint8_t grey = line[0][x];
        out[3 * x] = grey;
        out[3 * x + 1] = grey;
        out[3 * x + 2] = grey;
      }
    }
  }
  jpeg_finish_decompress(cinfo);
  jpeg_destroy_decompress(cinfo);
  return 0;
}

}  // namespace

int DecodeJpegToDib(const std::uint8_t* jpeg, int length, std::uint8_t* pixels, int capacity,
                    int* width, int* height) {
  if (width) *width = 0;
  if (height) *height = 0;
  if (!jpeg || length <= 0 || !pixels || capacity <= 0) return kPlayerFailed;
  jpeg_decompress_struct cinfo;
  JumpErrorManager err;
  PieceSource src;
  return decode(&cinfo, &err, &src, jpeg, length, pixels, capacity, width, height);
}

}  // namespace kv4r::player
