// What a receiver needs to rebuild the table block of a coded frame (modes 1 to 3), seen from the
// sending side: the quantisation tables the receiver will insert, and the three parameter bytes
// that tell it the picture size and the table multiplier.
//
// Our reading of the receiver's rebuild, which the encoder of coded frames follows exactly:
//  - Both rebuilds start from the quality-75 tables: table 0 is the luminance example table of
//    ITU-T T.81 Annex K (K.1), table 1 the chrominance example table (K.2), each value halved with
//    halves rounded up, (v + 1) / 2 -- the same tables a libjpeg encoder uses at quality 75.
//  - Standard rebuild: every value is multiplied by q and kept to 8 bits; the values are written in
//    zig-zag order. Sizes: width {176, 352, 352, 704, 704}[r], height {112, 112, 240, 240, 480}[r]
//    for s = 1 and {144, 144, 288, 288, 576}[r] for s = 2.
//  - "LINUX" variant: the first (DC) value of each table is 8, the other 63 are the quality-75
//    values multiplied by {1, 2, 3, 4, 5, 6}[q], kept to 8 bits, also in zig-zag order. Sizes:
//    width {176, 352, 704, 704}[r], height {112, 240, 240, 480}[r] for s = 0 and
//    {144, 288, 288, 576}[r] for s = 1.
//  - Parameter bytes: B[5] = (s + 53) ^ 0xC5, B[6] = (r + 54) ^ 0x53, B[7] = (q + 55) ^ 0x3F, where
//  B
//    is the table block of the frame (modes 2) or the extension bytes at offset 60 (modes 1 and 3).
// Our cameras name the multiplier as a factor 1..4 (no value exceeds 8 bits then): the standard
// rebuild gets q = factor, the variant q = factor - 1.
//
// Pure functions; any thread.
#pragma once

#include <array>
#include <cstdint>

namespace kv4r::sim {

// The JPEG zig-zag sequence: kZigZagToNatural[k] is the natural (row-major) index of the k-th
// coefficient in file order.
extern const std::array<int, 64> kZigZagToNatural;

// The table `table` as the receiver's rebuild writes it into the header, in file (zig-zag) order.
[[nodiscard]] std::array<std::uint8_t, 64> rebuiltQuantTable(int table, bool linux_variant,
                                                             int factor);

// The same table in natural order, as an encoder takes it.
[[nodiscard]] std::array<unsigned int, 64> rebuiltQuantTableNatural(int table, bool linux_variant,
                                                                    int factor);

// The three parameter bytes (B[5], B[6], B[7]) for a picture size and factor 1..4. Returns 1, or 0
// when the rebuild cannot describe that size or factor.
[[nodiscard]] int rebuildParameterBytes(int width, int height, int factor, bool linux_variant,
                                        std::array<std::uint8_t, 3>* bytes);

}  // namespace kv4r::sim
