#include "formats/header_template.h"

#include <cstring>

#include "formats/formats_codes.h"

namespace kv4r::formats {
namespace {

// ITU-T T.81 Annex K, tables K.1 and K.2, natural order.
constexpr std::uint8_t kLuminanceK1[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::uint8_t kChrominanceK2[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
constexpr int kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                             12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                             35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                             58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Annex K.3: code counts per length 1..16, then the symbols.
constexpr std::uint8_t kDcBits[2][16] = {{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
                                         {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0}};
constexpr std::uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr std::uint8_t kAcBits[2][16] = {{0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D},
                                         {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77}};
constexpr std::uint8_t kAcValues[2][162] = {
    {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
     0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42, 0xB1, 0xC1, 0x15, 0x52,
     0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0A, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x25,
     0x26, 0x27, 0x28, 0x29, 0x2A, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44, 0x45,
     0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x63, 0x64,
     0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x83,
     0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
     0x9A, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6,
     0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3,
     0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8,
     0xE9, 0xEA, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA},
    {0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
     0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xA1, 0xB1, 0xC1, 0x09, 0x23, 0x33,
     0x52, 0xF0, 0x15, 0x62, 0x72, 0xD1, 0x0A, 0x16, 0x24, 0x34, 0xE1, 0x25, 0xF1, 0x17, 0x18,
     0x19, 0x1A, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44,
     0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x63,
     0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A,
     0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
     0x98, 0x99, 0x9A, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4,
     0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA,
     0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7,
     0xE8, 0xE9, 0xEA, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA}};

constexpr std::size_t kTableValues[2] = {5, 74};
constexpr std::size_t kHeightOffset = 143;
constexpr std::size_t kWidthOffset = 145;

constexpr int kStandardWidths[5] = {176, 352, 352, 704, 704};
constexpr int kStandardHeights[2][5] = {{112, 112, 240, 240, 480}, {144, 144, 288, 288, 576}};
constexpr int kVariantWidths[4] = {176, 352, 704, 704};
constexpr int kVariantHeights[2][4] = {{112, 240, 240, 480}, {144, 288, 288, 576}};
constexpr int kVariantFactors[6] = {1, 2, 3, 4, 5, 6};

template <std::size_t N>
std::size_t put(std::array<std::uint8_t, kHeaderTemplateSize>& out, std::size_t at,
                const std::uint8_t (&bytes)[N]) {
  std::memcpy(out.data() + at, bytes, N);
  return at + N;
}

std::size_t putHuffman(std::array<std::uint8_t, kHeaderTemplateSize>& out, std::size_t at,
                       std::uint8_t class_and_id, const std::uint8_t (&bits)[16],
                       const std::uint8_t* values) {
  std::size_t count = 0;
  for (std::uint8_t b : bits) count += b;
  const std::size_t length = 2 + 1 + 16 + count;
  const std::uint8_t head[5] = {0xFF, 0xC4, static_cast<std::uint8_t>(length >> 8),
                                static_cast<std::uint8_t>(length), class_and_id};
  at = put(out, at, head);
  at = put(out, at, bits);
  std::memcpy(out.data() + at, values, count);
  return at + count;
}

std::array<std::uint8_t, kHeaderTemplateSize> makeTemplate() {
  std::array<std::uint8_t, kHeaderTemplateSize> t{};
  std::size_t at = 0;
  for (std::uint8_t table = 0; table < 2; ++table) {
    const std::uint8_t head[5] = {0xFF, 0xDB, 0x00, 0x43, table};
    at = put(t, at, head) + 64;
  }
  const std::uint8_t frame[19] = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0,    0,    0,    0,   0x03,
                                  0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01};
  at = put(t, at, frame);
  at = putHuffman(t, at, 0x00, kDcBits[0], kDcValues);
  at = putHuffman(t, at, 0x10, kAcBits[0], kAcValues[0]);
  at = putHuffman(t, at, 0x01, kDcBits[1], kDcValues);
  at = putHuffman(t, at, 0x11, kAcBits[1], kAcValues[1]);
  const std::uint8_t scan[14] = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00,
                                 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
  put(t, at, scan);
  return t;
}

std::array<std::uint8_t, 64> makeQuality75(int table) {
  const std::uint8_t* k = table == 0 ? kLuminanceK1 : kChrominanceK2;
  std::array<std::uint8_t, 64> out{};
  for (int i = 0; i < 64; ++i) out[i] = static_cast<std::uint8_t>((k[kZigZag[i]] + 1) / 2);
  return out;
}

}  // namespace

const std::array<std::uint8_t, kHeaderTemplateSize>& headerTemplate() {
  static const std::array<std::uint8_t, kHeaderTemplateSize> kTemplate = makeTemplate();
  return kTemplate;
}

const std::array<std::uint8_t, 64>& quality75ZigZag(int table) {
  static const std::array<std::uint8_t, 64> kTables[2] = {makeQuality75(0), makeQuality75(1)};
  return kTables[table == 0 ? 0 : 1];
}

int readRebuildParameters(std::span<const std::uint8_t> block, bool linux_variant,
                          RebuildParameters* parameters) {
  if (block.size() < 8) return kFormatsErrTooShort;
  const std::uint8_t s = static_cast<std::uint8_t>((block[5] ^ 0xC5) - 53);
  const std::uint8_t r = static_cast<std::uint8_t>((block[6] ^ 0x53) - 54);
  const std::uint8_t q = static_cast<std::uint8_t>((block[7] ^ 0x3F) - 55);
  RebuildParameters p;
  if (linux_variant) {
    if (s > 1 || r > 3 || q > 5) return kFormatsErrBadRecord;
    p.width = kVariantWidths[r];
    p.height = kVariantHeights[s][r];
    p.factor = kVariantFactors[q];
  } else {
    if (s < 1 || s > 2 || r > 4) return kFormatsErrBadRecord;
    p.width = kStandardWidths[r];
    p.height = kStandardHeights[s - 1][r];
    p.factor = q;
  }
  if (parameters) *parameters = p;
  return 1;
}

int rebuildHeaderBlock(std::span<std::uint8_t> block, bool linux_variant) {
  if (block.size() < kHeaderTemplateSize) return kFormatsErrTooShort;
  RebuildParameters p;
  const int rc = readRebuildParameters(block, linux_variant, &p);
  if (rc != 1) return rc;
  std::memcpy(block.data(), headerTemplate().data(), kHeaderTemplateSize);
  for (int table = 0; table < 2; ++table) {
    const std::array<std::uint8_t, 64>& q75 = quality75ZigZag(table);
    std::uint8_t* values = block.data() + kTableValues[table];
    for (int i = 0; i < 64; ++i) values[i] = static_cast<std::uint8_t>(q75[i] * p.factor);
    if (linux_variant) values[0] = 8;
  }
  block[kHeightOffset] = static_cast<std::uint8_t>(p.height >> 8);
  block[kHeightOffset + 1] = static_cast<std::uint8_t>(p.height);
  block[kWidthOffset] = static_cast<std::uint8_t>(p.width >> 8);
  block[kWidthOffset + 1] = static_cast<std::uint8_t>(p.width);
  return 1;
}

std::array<char, kKeyFieldSize> decodeKeyField(std::span<const std::uint8_t, kKeyFieldSize> field) {
  std::array<char, kKeyFieldSize> key{};
  for (std::size_t i = 0; i < kKeyFieldSize; ++i) {
    key[i] = static_cast<char>(field[i] ^ static_cast<std::uint8_t>(kKeyMask[i]));
  }
  return key;
}

bool keyFieldMatches(std::span<const std::uint8_t, kKeyFieldSize> field,
                     std::span<const char, kKeyFieldSize> stored_key) {
  const std::array<char, kKeyFieldSize> key = decodeKeyField(field);
  return std::strncmp(key.data(), stored_key.data(), kKeyFieldSize) == 0;
}

}  // namespace kv4r::formats
