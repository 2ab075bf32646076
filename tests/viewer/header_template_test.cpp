// The receiver's table block: template layout, the standard Huffman tables, the rebuilt
// quantisation tables as the server encodes with them, picture sizes and refused parameters.
#include "formats/header_template.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "formats/formats_codes.h"
#include "sim/coded_record.h"
#include "sim/header_params.h"

namespace kv4r::formats {
namespace {

std::vector<std::uint8_t> huffmanSegment(const JHUFF_TBL* table, int class_and_id) {
  int count = 0;
  for (int i = 1; i <= 16; ++i) count += table->bits[i];
  const int length = 2 + 1 + 16 + count;
  std::vector<std::uint8_t> out = {0xFF, 0xC4, static_cast<std::uint8_t>(length >> 8),
                                   static_cast<std::uint8_t>(length),
                                   static_cast<std::uint8_t>(class_and_id)};
  for (int i = 1; i <= 16; ++i) out.push_back(table->bits[i]);
  for (int i = 0; i < count; ++i) out.push_back(table->huffval[i]);
  return out;
}

// A block as a coded frame carries it: parameter bytes at 5..7, the rest junk.
std::vector<std::uint8_t> codedBlock(int width, int height, int factor, bool variant) {
  std::vector<std::uint8_t> block(kHeaderTemplateSize, 0xA5);
  std::array<std::uint8_t, 3> params{};
  EXPECT_EQ(sim::rebuildParameterBytes(width, height, factor, variant, &params), 1);
  std::copy(params.begin(), params.end(), block.begin() + 5);
  return block;
}

std::vector<std::uint8_t> withParams(int s, int r, int q) {
  std::vector<std::uint8_t> block(kHeaderTemplateSize, 0);
  block[5] = static_cast<std::uint8_t>((s + 53) ^ 0xC5);
  block[6] = static_cast<std::uint8_t>((r + 54) ^ 0x53);
  block[7] = static_cast<std::uint8_t>((q + 55) ^ 0x3F);
  return block;
}

TEST(HeaderTemplate, SegmentsSitAtTheirFixedOffsetsWithTheStandardHuffmanTables) {
  const auto& t = headerTemplate();
  const std::size_t markers[][2] = {{0, 0xDB},   {69, 0xDB},  {138, 0xC0}, {157, 0xC4},
                                    {190, 0xC4}, {373, 0xC4}, {406, 0xC4}, {589, 0xDA}};
  for (const auto& m : markers) {
    EXPECT_EQ(t[m[0]], 0xFF) << m[0];
    EXPECT_EQ(t[m[0] + 1], m[1]) << m[0];
  }
  EXPECT_EQ(t[4], 0);
  EXPECT_EQ(t[73], 1);
  EXPECT_EQ(t[3], 67);
  EXPECT_EQ(t[141], 17);
  EXPECT_EQ(t[592], 12);

  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  cinfo.in_color_space = JCS_RGB;
  cinfo.input_components = 3;
  jpeg_set_defaults(&cinfo);
  const std::pair<std::size_t, std::vector<std::uint8_t>> tables[] = {
      {157, huffmanSegment(cinfo.dc_huff_tbl_ptrs[0], 0x00)},
      {190, huffmanSegment(cinfo.ac_huff_tbl_ptrs[0], 0x10)},
      {373, huffmanSegment(cinfo.dc_huff_tbl_ptrs[1], 0x01)},
      {406, huffmanSegment(cinfo.ac_huff_tbl_ptrs[1], 0x11)}};
  jpeg_destroy_compress(&cinfo);
  for (const auto& [offset, segment] : tables) {
    EXPECT_TRUE(std::equal(segment.begin(), segment.end(), t.begin() + offset)) << offset;
  }
}

TEST(HeaderTemplate, RebuildWritesTheTablesTheServerEncodesWith) {
  for (bool variant : {false, true}) {
    for (int factor = 1; factor <= 4; ++factor) {
      std::vector<std::uint8_t> block = codedBlock(704, 480, factor, variant);
      ASSERT_EQ(rebuildHeaderBlock(block, variant), 1);
      for (int table = 0; table < 2; ++table) {
        const auto expected = sim::rebuiltQuantTable(table, variant, factor);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), block.begin() + 5 + 69 * table))
            << "variant " << variant << " factor " << factor << " table " << table;
      }
      EXPECT_EQ(block[143] << 8 | block[144], 480);
      EXPECT_EQ(block[145] << 8 | block[146], 704);
    }
  }
}

TEST(HeaderTemplate, EveryDescribedSizeComesBack) {
  const std::pair<int, int> sizes[] = {{176, 112}, {352, 240}, {704, 240}, {704, 480},
                                       {176, 144}, {352, 288}, {704, 288}, {704, 576}};
  for (bool variant : {false, true}) {
    for (const auto& [w, h] : sizes) {
      const std::vector<std::uint8_t> block = codedBlock(w, h, 2, variant);
      RebuildParameters p;
      ASSERT_EQ(readRebuildParameters(block, variant, &p), 1);
      EXPECT_EQ(p.width, w);
      EXPECT_EQ(p.height, h);
    }
  }
  // The standard tables also know 352 x 112 / 352 x 144 (r = 1).
  RebuildParameters p;
  ASSERT_EQ(readRebuildParameters(withParams(2, 1, 3), false, &p), 1);
  EXPECT_EQ(p.width, 352);
  EXPECT_EQ(p.height, 144);
  EXPECT_EQ(p.factor, 3);
}

TEST(HeaderTemplate, ParametersOutsideTheTablesAreRefusedAndLeaveTheBlockAlone) {
  const struct {
    int s, r, q;
    bool variant;
  } bad[] = {{0, 0, 1, false}, {3, 0, 1, false}, {1, 5, 1, false}, {-1, 0, 1, false},
             {2, 0, 0, true},  {0, 4, 0, true},  {1, 0, 6, true},  {0, 200, 0, true}};
  for (const auto& b : bad) {
    std::vector<std::uint8_t> block = withParams(b.s, b.r, b.q);
    const std::vector<std::uint8_t> before = block;
    EXPECT_EQ(rebuildHeaderBlock(block, b.variant), kFormatsErrBadRecord)
        << b.s << " " << b.r << " " << b.q;
    EXPECT_EQ(block, before);
  }
  std::vector<std::uint8_t> short_block(602, 0);
  EXPECT_EQ(rebuildHeaderBlock(short_block, false), kFormatsErrTooShort);
  EXPECT_EQ(
      readRebuildParameters(std::span<const std::uint8_t>(short_block.data(), 7), false, nullptr),
      kFormatsErrTooShort);
}

TEST(HeaderTemplate, KeyFieldComparesAsTextOverEightCharacters) {
  const auto field = sim::keyField("secret");
  std::array<char, 8> stored{};
  EXPECT_FALSE(keyFieldMatches(field, stored));
  std::copy_n("secret", 6, stored.begin());
  EXPECT_TRUE(keyFieldMatches(field, stored));
  stored[6] = 'x';
  EXPECT_FALSE(keyFieldMatches(field, stored));

  const auto long_field = sim::keyField("12345678");
  std::array<char, 8> eight{'1', '2', '3', '4', '5', '6', '7', '8'};
  EXPECT_TRUE(keyFieldMatches(long_field, eight));
  // An empty key matches a field of an empty key (the zero-filled stored key at start).
  EXPECT_TRUE(keyFieldMatches(sim::keyField(""), std::array<char, 8>{}));
}

}  // namespace
}  // namespace kv4r::formats
