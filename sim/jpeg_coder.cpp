#include "sim/jpeg_coder.h"

#include <turbojpeg.h>

// jpeglib.h needs FILE and size_t declared first.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "sim/header_params.h"
#include "sim/sim_codes.h"

namespace kv4r::sim {
namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

void errorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

void silentMessage(j_common_ptr) {}

bool pictureSound(const Picture& p) {
  return p.width > 0 && p.height > 0 &&
         p.rgb.size() >= static_cast<std::size_t>(p.width) * p.height * 3;
}

// The libjpeg part of encodeRebuildJpeg: everything between setjmp and the end lives here so that
// no object with a destructor is skipped by the long jump.
int encodeWithTables(const Picture& picture, const unsigned int* table0, const unsigned int* table1,
                     unsigned char** out, unsigned long* out_size) {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = errorExit;
  err.pub.output_message = silentMessage;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    return kSimErrPicture;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, out, out_size);
  cinfo.image_width = static_cast<JDIMENSION>(picture.width);
  cinfo.image_height = static_cast<JDIMENSION>(picture.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);  // YCbCr, 2x2/1x1/1x1, Annex K Huffman tables, integer DCT
  cinfo.write_JFIF_header = FALSE;
  cinfo.optimize_coding = FALSE;
  jpeg_add_quant_table(&cinfo, 0, table0, 100, TRUE);
  jpeg_add_quant_table(&cinfo, 1, table1, 100, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const int stride = picture.width * 3;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(picture.rgb.data() +
                                        static_cast<std::size_t>(cinfo.next_scanline) * stride);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return 1;
}

}  // namespace

int encodePlainJpeg(const Picture& picture, int quality, std::vector<std::uint8_t>* jpeg) {
  if (!jpeg || !pictureSound(picture) || quality < 1 || quality > 100) return kSimErrPicture;
  tjhandle handle = tjInitCompress();
  if (!handle) return kSimErrPicture;
  unsigned char* out = nullptr;
  unsigned long size = 0;
  // The accurate integer DCT, as the coded modes' encoder uses: at quality 75 a mode-0 picture then
  // has the very tables and scan of a mode-1 picture.
  const int rc = tjCompress2(handle, picture.rgb.data(), picture.width, 0, picture.height, TJPF_RGB,
                             &out, &size, TJSAMP_420, quality, TJFLAG_ACCURATEDCT);
  int result = kSimErrPicture;
  if (rc == 0 && out && size > 0) {
    jpeg->assign(out, out + size);
    result = static_cast<int>(size);
  }
  tjFree(out);
  tjDestroy(handle);
  return result;
}

int encodeRebuildJpeg(const Picture& picture, bool linux_variant, int factor,
                      std::vector<std::uint8_t>* jpeg) {
  if (!jpeg || !pictureSound(picture) || factor < 1 || factor > 4) return kSimErrPicture;
  const std::array<unsigned int, 64> t0 = rebuiltQuantTableNatural(0, linux_variant, factor);
  const std::array<unsigned int, 64> t1 = rebuiltQuantTableNatural(1, linux_variant, factor);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  const int rc = encodeWithTables(picture, t0.data(), t1.data(), &out, &size);
  int result = kSimErrPicture;
  if (rc == 1 && out && size > 0) {
    jpeg->assign(out, out + size);
    result = static_cast<int>(size);
  }
  std::free(out);
  return result;
}

int decodeJpeg(std::span<const std::uint8_t> jpeg, Picture* picture) {
  if (!picture || jpeg.empty()) return kSimErrPicture;
  tjhandle handle = tjInitDecompress();
  if (!handle) return kSimErrPicture;
  int width = 0;
  int height = 0;
  int subsampling = 0;
  int colorspace = 0;
  int result = kSimErrPicture;
  if (tjDecompressHeader3(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), &width,
                          &height, &subsampling, &colorspace) == 0 &&
      width > 0 && height > 0 && width <= 8192 && height <= 8192) {
    Picture out;
    out.width = width;
    out.height = height;
    out.rgb.resize(static_cast<std::size_t>(width) * height * 3);
    const int rc = tjDecompress2(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                                 out.rgb.data(), width, 0, height, TJPF_RGB, 0);
    // A warning (a damaged but readable picture) still gives pixels.
    if (rc == 0 || tjGetErrorCode(handle) == TJERR_WARNING) {
      *picture = std::move(out);
      result = 1;
    }
  }
  tjDestroy(handle);
  return result;
}

}  // namespace kv4r::sim
