// The table block a receiver writes into a coded frame (modes 1 to 3) before decoding it: a fixed
// 603-byte baseline JPEG header (two quantisation tables, the frame header, the four standard
// Huffman tables and the scan header) whose table values and picture size come from three
// parameter bytes the frame carries. Also the key field check of key-protected frames.
//
// Block layout (offsets into the 603 bytes): DQT table 0 at 0 (values 5..68), DQT table 1 at 69
// (values 74..137), SOF0 at 138 (height 143..144, width 145..146, component 1 2x2 with table 0,
// components 2 and 3 1x1 with table 1), DHT luminance DC at 157, luminance AC at 190, chrominance
// DC at 373, chrominance AC at 406 (the Annex K tables of ITU-T T.81), SOS at 589.
//
// Parameter bytes B[5..7] of the block before it is overwritten: s = (B[5] ^ 0xC5) - 53,
// r = (B[6] ^ 0x53) - 54, q = (B[7] ^ 0x3F) - 55, each taken as an 8-bit value.
//  - Standard rebuild: both tables are the quality-75 tables (Annex K examples halved, halves
//  rounded
//    up) times q, kept to 8 bits. Width {176, 352, 352, 704, 704}[r]; height
//    {112, 112, 240, 240, 480}[r] for s = 1, {144, 144, 288, 288, 576}[r] for s = 2.
//  - "LINUX" rebuild: the first value of each table is 8, the others are the quality-75 values
//    times {1, 2, 3, 4, 5, 6}[q]. Width {176, 352, 704, 704}[r]; height {112, 240, 240, 480}[r]
//    for s = 0, {144, 288, 288, 576}[r] for s = 1.
// Parameters outside these tables are refused; nothing is read beyond them.
//
// Pure functions over caller-owned bytes; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace kv4r::formats {

inline constexpr std::size_t kHeaderTemplateSize = 603;
inline constexpr std::size_t kKeyFieldOffset = 12;  // in the table block of modes 2 and 3
inline constexpr std::size_t kKeyFieldSize = 8;
inline constexpr std::string_view kKeyMask = "QRN_VELA";

// The fixed template with zero table values and a 0 x 0 size.
[[nodiscard]] const std::array<std::uint8_t, kHeaderTemplateSize>& headerTemplate();

// The quality-75 table `table` (0 luminance, 1 chrominance) in zig-zag (file) order.
[[nodiscard]] const std::array<std::uint8_t, 64>& quality75ZigZag(int table);

// What the parameter bytes of `block` describe under the chosen rebuild.
struct RebuildParameters {
  int width = 0;
  int height = 0;
  int factor = 0;  // the multiplier of the table values
};

// Reads s, r and q from block[5..7]. Returns 1 with *parameters set, or kFormatsErrBadRecord when a
// value lies outside the rebuild's tables, kFormatsErrTooShort when the block has fewer than 8
// bytes.
[[nodiscard]] int readRebuildParameters(std::span<const std::uint8_t> block, bool linux_variant,
                                        RebuildParameters* parameters);

// Overwrites the first 603 bytes of `block` with the rebuilt header. Returns 1, or the codes of
// readRebuildParameters, or kFormatsErrTooShort when the block is shorter than 603 bytes; on
// failure the block is unchanged.
[[nodiscard]] int rebuildHeaderBlock(std::span<std::uint8_t> block, bool linux_variant);

// The key text a key field carries: each byte XOR the mask character, up to the first zero.
[[nodiscard]] std::array<char, kKeyFieldSize> decodeKeyField(
    std::span<const std::uint8_t, kKeyFieldSize> field);

// Whether the key field opens with `stored_key`: the decoded field and the key compared as texts
// over at most 8 characters (a zero ends either text).
[[nodiscard]] bool keyFieldMatches(std::span<const std::uint8_t, kKeyFieldSize> field,
                                   std::span<const char, kKeyFieldSize> stored_key);

}  // namespace kv4r::formats
