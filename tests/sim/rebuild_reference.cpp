#include "tests/sim/rebuild_reference.h"

#include <turbojpeg.h>

#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace kv4r::simtest {
namespace {

std::uint16_t be16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}
std::uint32_t be32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) << 24 | static_cast<std::uint32_t>(b[at + 1]) << 16 |
         static_cast<std::uint32_t>(b[at + 2]) << 8 | b[at + 3];
}
void put16(std::vector<std::uint8_t>& b, std::size_t at, unsigned v) {
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// The example tables of T.81 Annex K (natural order) and the zig-zag sequence.
const int kLum[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                      14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                      18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                      49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const int kChr[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                      24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                      99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                      99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
const int kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                         12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                         35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                         58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// One DHT segment from the standard Huffman table libjpeg installs by default (Annex K).
void appendHuffman(std::vector<std::uint8_t>& out, const JHUFF_TBL* table, int class_and_id) {
  int count = 0;
  for (int i = 1; i <= 16; ++i) count += table->bits[i];
  out.insert(out.end(), {0xFF, 0xC4});
  const int length = 2 + 1 + 16 + count;
  out.push_back(static_cast<std::uint8_t>(length >> 8));
  out.push_back(static_cast<std::uint8_t>(length));
  out.push_back(static_cast<std::uint8_t>(class_and_id));
  for (int i = 1; i <= 16; ++i) out.push_back(table->bits[i]);
  for (int i = 0; i < count; ++i) out.push_back(table->huffval[i]);
}

// The fixed part of the template: everything but table values and size.
std::vector<std::uint8_t> templateBlock() {
  std::vector<std::uint8_t> t;
  for (int table = 0; table < 2; ++table) {
    t.insert(t.end(), {0xFF, 0xDB, 0x00, 0x43, static_cast<std::uint8_t>(table)});
    t.insert(t.end(), 64, 0);
  }
  t.insert(t.end(), {0xFF, 0xC0, 0x00, 0x11, 0x08, 0, 0, 0, 0, 0x03, 0x01, 0x22, 0x00, 0x02, 0x11,
                     0x01, 0x03, 0x11, 0x01});
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  cinfo.in_color_space = JCS_RGB;
  cinfo.input_components = 3;
  jpeg_set_defaults(&cinfo);
  appendHuffman(t, cinfo.dc_huff_tbl_ptrs[0], 0x00);
  appendHuffman(t, cinfo.ac_huff_tbl_ptrs[0], 0x10);
  appendHuffman(t, cinfo.dc_huff_tbl_ptrs[1], 0x01);
  appendHuffman(t, cinfo.ac_huff_tbl_ptrs[1], 0x11);
  jpeg_destroy_compress(&cinfo);
  t.insert(t.end(),
           {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00});
  return t;
}

}  // namespace

std::vector<std::uint8_t> insertTableGap(const std::vector<std::uint8_t>& wire) {
  if (wire.size() < 60 || !(be16(wire, 58) & 1)) return wire;
  const std::size_t x = be16(wire, 4) - 56u;
  std::vector<std::uint8_t> out(wire.begin(), wire.begin() + 60);
  out.insert(out.end(), wire.begin() + 60, wire.begin() + 60 + static_cast<long>(x));
  out.resize(60 + 603, 0);
  out.insert(out.end(), wire.begin() + 60 + static_cast<long>(x), wire.end());
  put32(out, 48, be32(wire, 48) + 603 - static_cast<std::uint32_t>(x));
  put16(out, 4, 56);
  return out;
}

std::vector<std::uint8_t> rebuildHeader(const std::uint8_t* b, bool linux_variant) {
  const int s = static_cast<std::uint8_t>((b[5] ^ 0xC5) - 53);
  const int r = static_cast<std::uint8_t>((b[6] ^ 0x53) - 54);
  const int q = static_cast<std::uint8_t>((b[7] ^ 0x3F) - 55);
  int width = 0;
  int height = 0;
  int factor = 0;
  if (!linux_variant) {
    const int widths[] = {176, 352, 352, 704, 704};
    const int ntsc[] = {112, 112, 240, 240, 480};
    const int pal[] = {144, 144, 288, 288, 576};
    if ((s != 1 && s != 2) || r > 4) return {};
    width = widths[r];
    height = s == 1 ? ntsc[r] : pal[r];
    factor = q;
  } else {
    const int widths[] = {176, 352, 704, 704};
    const int ntsc[] = {112, 240, 240, 480};
    const int pal[] = {144, 288, 288, 576};
    const int factors[] = {1, 2, 3, 4, 5, 6};
    if ((s != 0 && s != 1) || r > 3 || q > 5) return {};
    width = widths[r];
    height = s == 0 ? ntsc[r] : pal[r];
    factor = factors[q];
  }
  std::vector<std::uint8_t> block = templateBlock();
  for (int table = 0; table < 2; ++table) {
    const int* k = table == 0 ? kLum : kChr;
    for (int i = 0; i < 64; ++i) {
      const int q75 = (k[kZigZag[i]] + 1) / 2;
      block[5 + 69 * table + i] = static_cast<std::uint8_t>((q75 * factor) & 0xFF);
    }
    if (linux_variant) block[5 + 69 * table] = 8;
  }
  put16(block, 143, static_cast<unsigned>(height));
  put16(block, 145, static_cast<unsigned>(width));
  return block;
}

std::vector<std::uint8_t> unlockRecord(const std::vector<std::uint8_t>& record, bool linux_variant,
                                       const std::string& key) {
  if (record.size() < 60 + 603) return {};
  std::vector<std::uint8_t> out = record;
  const unsigned flags = be16(out, 58);
  const unsigned mode = flags & 3;
  if (mode == 0) return out;
  std::size_t at = 60;
  bool variant = false;
  if (mode >= 2) {
    at = 4 + be16(out, 4);
    if (at + 603 > out.size()) return {};
    char typed[9] = {};
    for (int i = 0; i < 8; ++i) typed[i] = static_cast<char>(out[at + 12 + i] ^ "QRN_VELA"[i]);
    if (std::strncmp(typed, key.c_str(), 8) != 0) return {};
    variant = linux_variant;
  }
  const std::vector<std::uint8_t> header = rebuildHeader(&out[at], variant);
  if (header.size() != 603) return {};
  std::copy(header.begin(), header.end(), out.begin() + static_cast<long>(at));
  put16(out, 58, mode == 1 ? 0 : (flags & ~3u));
  return out;
}

Decoded decodeRecord(const std::vector<std::uint8_t>& jpeg) {
  Decoded d;
  tjhandle h = tjInitDecompress();
  int w = 0, hgt = 0, sub = 0, cs = 0;
  if (tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &w, &hgt, &sub, &cs) == 0) {
    d.rgb.resize(static_cast<std::size_t>(w) * hgt * 3);
    if (tjDecompress2(h, jpeg.data(), jpeg.size(), d.rgb.data(), w, 0, hgt, TJPF_RGB, 0) == 0) {
      d.width = w;
      d.height = hgt;
    }
  }
  tjDestroy(h);
  return d;
}

}  // namespace kv4r::simtest
