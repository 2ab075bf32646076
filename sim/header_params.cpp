#include "sim/header_params.h"

#include "formats/header_template.h"

namespace kv4r::sim {
namespace {

constexpr int kStandardWidths[] = {176, 352, 352, 704, 704};
constexpr int kStandardHeights[2][5] = {{112, 112, 240, 240, 480}, {144, 144, 288, 288, 576}};
constexpr int kVariantWidths[] = {176, 352, 704, 704};
constexpr int kVariantHeights[2][4] = {{112, 240, 240, 480}, {144, 288, 288, 576}};

}  // namespace

const std::array<int, 64> kZigZagToNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

std::array<std::uint8_t, 64> rebuiltQuantTable(int table, bool linux_variant, int factor) {
  // The receiver's own quality-75 tables, so both sides can never disagree.
  const std::array<std::uint8_t, 64>& q75 = formats::quality75ZigZag(table);
  std::array<std::uint8_t, 64> out{};
  for (int k = 0; k < 64; ++k) out[k] = static_cast<std::uint8_t>((q75[k] * factor) & 0xFF);
  if (linux_variant) out[0] = 8;
  return out;
}

std::array<unsigned int, 64> rebuiltQuantTableNatural(int table, bool linux_variant, int factor) {
  const std::array<std::uint8_t, 64> zigzag = rebuiltQuantTable(table, linux_variant, factor);
  std::array<unsigned int, 64> natural{};
  for (int k = 0; k < 64; ++k) natural[kZigZagToNatural[k]] = zigzag[k];
  return natural;
}

int rebuildParameterBytes(int width, int height, int factor, bool linux_variant,
                          std::array<std::uint8_t, 3>* bytes) {
  if (factor < 1 || factor > 4 || !bytes) return 0;
  int s = -1;
  int r = -1;
  if (linux_variant) {
    for (int system = 0; system < 2 && s < 0; ++system) {
      for (int i = 0; i < 4; ++i) {
        if (kVariantWidths[i] == width && kVariantHeights[system][i] == height) {
          s = system;  // 0 for the 480-line family, 1 for the 576-line family
          r = i;
          break;
        }
      }
    }
  } else {
    for (int system = 0; system < 2 && s < 0; ++system) {
      for (int i = 0; i < 5; ++i) {
        if (kStandardWidths[i] == width && kStandardHeights[system][i] == height) {
          s = system + 1;  // 1 for the 480-line family, 2 for the 576-line family
          r = i;
          break;
        }
      }
    }
  }
  if (s < 0) return 0;
  const int q = linux_variant ? factor - 1 : factor;
  (*bytes)[0] = static_cast<std::uint8_t>(((s + 53) & 0xFF) ^ 0xC5);
  (*bytes)[1] = static_cast<std::uint8_t>(((r + 54) & 0xFF) ^ 0x53);
  (*bytes)[2] = static_cast<std::uint8_t>(((q + 55) & 0xFF) ^ 0x3F);
  return 1;
}

}  // namespace kv4r::sim
