// Coded frames: what a receiver rebuilds from frames of modes 1 to 3 must be the very tables and
// pixels the server encoded.
#include <gtest/gtest.h>

#include "formats/frame_record.h"
#include "formats/record_builder.h"
#include "sim/coded_record.h"
#include "sim/header_params.h"
#include "sim/scenario.h"
#include "tests/sim/rebuild_reference.h"

namespace kv4r::sim {
namespace {

using simtest::decodeRecord;
using simtest::insertTableGap;
using simtest::unlockRecord;

CameraCoding coding(int mode, bool linux_variant, int factor = 1) {
  CameraCoding c;
  c.camera_number = 2;
  c.mode = mode;
  c.factor = factor;
  c.linux_variant = linux_variant;
  c.key = "s3cret";
  c.server_name = "Office";
  c.camera_name = "Door";
  return c;
}

std::vector<std::uint8_t> blockOf(const std::vector<std::uint8_t>& record) {
  const int at = formats::tableBlockOffset(record);
  if (at < 0 || static_cast<std::size_t>(at) + 603 > record.size()) return {};
  return {record.begin() + at, record.begin() + at + 603};
}

unsigned be16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] << 8 | b[at + 1];
}

TEST(Coding, ModeOneRebuildGivesTheTablesAndPixelsOfModeZeroAtEverySize) {
  for (const PictureSize& size : rebuildSizes()) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    const Picture picture =
        makePatternPicture(size.width, size.height, 1, 3, 8, "Door", "12:00:00");
    CodedPicture mode1;
    ASSERT_GT(codePicture(picture, coding(1, false), &mode1), 0);
    CodedPicture mode0;
    ASSERT_GT(codePicture(picture, coding(0, false), &mode0), 0);  // TurboJPEG at quality 75

    const std::vector<std::uint8_t> received = insertTableGap(mode1.wire);
    const std::vector<std::uint8_t> unlocked = unlockRecord(received, false, "");
    ASSERT_FALSE(unlocked.empty());
    EXPECT_EQ(be16(unlocked, 58), 0u);
    const std::vector<std::uint8_t> rebuilt(unlocked.begin() + 60, unlocked.begin() + 663);
    EXPECT_EQ(rebuilt, blockOf(mode0.wire));
    const auto a = decodeRecord(unlocked);
    const auto b = decodeRecord(mode0.wire);
    ASSERT_EQ(a.width, size.width);
    ASSERT_EQ(a.height, size.height);
    EXPECT_TRUE(a.rgb == b.rgb);
  }
}

TEST(Coding, HigherFactorsAndBothVariantsRebuildTheEncodersTables) {
  for (const bool linux_variant : {false, true}) {
    for (const int mode : {1, 2, 3}) {
      for (const int factor : {1, 4}) {
        SCOPED_TRACE("variant " + std::to_string(linux_variant) + " mode " + std::to_string(mode) +
                     " factor " + std::to_string(factor));
        const Picture picture = makePatternPicture(704, 576, 3, 1, 8, "Yard", "");
        CodedPicture coded;
        ASSERT_GT(codePicture(picture, coding(mode, linux_variant, factor), &coded), 0);
        const std::vector<std::uint8_t> unlocked =
            unlockRecord(insertTableGap(coded.wire), linux_variant, "s3cret");
        ASSERT_FALSE(unlocked.empty());
        EXPECT_EQ(blockOf(unlocked), blockOf(coded.plain));
        const auto a = decodeRecord(unlocked);
        const auto b = decodeRecord(coded.plain);
        ASSERT_EQ(a.width, 704);
        EXPECT_TRUE(a.rgb == b.rgb);
      }
    }
  }
}

TEST(Coding, KeyFieldLiesWhereTheReceiverLooksAndRefusesAnotherKey) {
  const std::array<std::uint8_t, 8> field = keyField("s3cret");
  EXPECT_EQ(field[0], 's' ^ 'Q');
  EXPECT_EQ(field[5], 't' ^ 'E');
  EXPECT_EQ(field[6], 'L');  // zero-filled key bytes leave the mask
  const Picture picture = makePatternPicture(352, 240, 1, 0, 8, "", "");
  CodedPicture mode2;
  ASSERT_GT(codePicture(picture, coding(2, false), &mode2), 0);
  const std::vector<std::uint8_t> block = blockOf(mode2.wire);
  EXPECT_TRUE(std::equal(field.begin(), field.end(), block.begin() + 12));
  CodedPicture mode3;
  ASSERT_GT(codePicture(picture, coding(3, false), &mode3), 0);
  EXPECT_TRUE(std::equal(field.begin(), field.end(), mode3.wire.begin() + 72));

  EXPECT_TRUE(unlockRecord(insertTableGap(mode2.wire), false, "other").empty());
  EXPECT_TRUE(unlockRecord(insertTableGap(mode3.wire), false, "s3cre").empty());
  EXPECT_FALSE(unlockRecord(insertTableGap(mode3.wire), false, "s3cret").empty());
}

TEST(Coding, WireLayoutOfEachMode) {
  const Picture picture = makePatternPicture(176, 144, 1, 0, 8, "", "");
  for (const int mode : {0, 1, 2, 3}) {
    SCOPED_TRACE(mode);
    CodedPicture coded;
    ASSERT_GT(codePicture(picture, coding(mode, false), &coded), 0);
    formats::FrameHeader h;
    ASSERT_EQ(formats::parseFrameHeader(coded.wire, &h), 1);
    EXPECT_EQ(h.record_length, coded.wire.size());
    EXPECT_EQ(h.coding_flags, mode);
    EXPECT_EQ(h.camera_number, 2);
    EXPECT_EQ(coded.wire[0], 0xFF);
    EXPECT_EQ(coded.wire[1], 0xD8);
    EXPECT_EQ(coded.wire[coded.wire.size() - 2], 0xFF);
    EXPECT_EQ(coded.wire.back(), 0xD9);
    EXPECT_EQ(formats::checkFrameRecord(coded.plain), 1);
    std::string title;
    EXPECT_EQ(formats::FormatRecordTitle(coded.plain, &title), 1);
    EXPECT_EQ(title.substr(0, 12), "Office Door ");
    if (mode == 1) {
      EXPECT_EQ(h.app_length, 64);  // 8 extension bytes, no name items
      const std::vector<std::uint8_t> received = insertTableGap(coded.wire);
      formats::FrameHeader r;
      ASSERT_EQ(formats::parseFrameHeader(received, &r), 1);
      EXPECT_EQ(r.app_length, 56);
      EXPECT_EQ(r.record_length, h.record_length + 595);
    }
    if (mode == 3) {
      EXPECT_EQ(h.app_length, 76);
    }
  }
}

TEST(Coding, ParameterBytesCoverOnlyTheRebuildSizes) {
  std::array<std::uint8_t, 3> bytes{};
  ASSERT_EQ(rebuildParameterBytes(704, 576, 1, false, &bytes), 1);
  EXPECT_EQ(bytes[0], (2 + 53) ^ 0xC5);
  EXPECT_EQ(bytes[1], (4 + 54) ^ 0x53);
  EXPECT_EQ(bytes[2], (1 + 55) ^ 0x3F);
  ASSERT_EQ(rebuildParameterBytes(352, 240, 3, true, &bytes), 1);
  EXPECT_EQ(bytes[0], (0 + 53) ^ 0xC5);
  EXPECT_EQ(bytes[1], (1 + 54) ^ 0x53);
  EXPECT_EQ(bytes[2], (2 + 55) ^ 0x3F);
  EXPECT_EQ(rebuildParameterBytes(352, 112, 1, true, &bytes), 0);
  EXPECT_EQ(rebuildParameterBytes(640, 480, 1, false, &bytes), 0);
  EXPECT_EQ(rebuildParameterBytes(176, 112, 5, false, &bytes), 0);
  EXPECT_EQ(rebuiltQuantTable(0, true, 2)[0], 8);
  EXPECT_EQ(rebuiltQuantTable(0, false, 2)[0], 16);   // (16 + 1) / 2 * 2
  EXPECT_EQ(rebuiltQuantTable(1, false, 1)[63], 50);  // (99 + 1) / 2
}

}  // namespace
}  // namespace kv4r::sim
