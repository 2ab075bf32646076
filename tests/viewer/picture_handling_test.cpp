// Frame-rate texts, the size conversions and the bitmap layout.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "tests/support/test_env.h"
#include "viewer/bmp_writer.h"
#include "viewer/frame_statistics.h"
#include "viewer/picture_convert.h"

namespace kv4r::viewer {
namespace {

TEST(FrameRate, TextsAtTheBoundaries) {
  EXPECT_EQ(formatFrameRate(30), "30.0 fps");
  EXPECT_EQ(formatFrameRate(30.5), "30 + fps");
  EXPECT_EQ(formatFrameRate(29.2), "30.0 fps");
  EXPECT_EQ(formatFrameRate(3.5), "03.5 fps");
  EXPECT_EQ(formatFrameRate(3.6), "04.0 fps");
  EXPECT_EQ(formatFrameRate(0), "00.0 fps");
  EXPECT_EQ(formatFrameRate(12), "12.0 fps");
  EXPECT_EQ(formatFrameRate(0.4), "00.4 fps");
  EXPECT_EQ(formatFrameRate(-1), "00.0 fps");
}

// The window layer takes on the user's locale; the text keeps its decimal point under one that
// writes a decimal comma.
TEST(FrameRate, TextKeepsItsPointUnderALocaleWithADecimalComma) {
  testing::TempDir dir;
  (void)testing::runProgram("/usr/bin/localedef",
                            {"-i", "de_DE", "-f", "UTF-8", (dir / "de_DE.UTF-8").string()});
  const char* loc_path = std::getenv("LOCPATH");
  const std::string old_loc_path = loc_path != nullptr ? loc_path : "";
  setenv("LOCPATH", dir.path().c_str(), 1);
  const std::string old_numeric = std::setlocale(LC_NUMERIC, nullptr);
  const bool comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  char probe[8] = {};
  std::snprintf(probe, sizeof probe, "%.1f", 3.5);
  const std::string text = formatFrameRate(3.5);
  std::setlocale(LC_NUMERIC, old_numeric.c_str());
  if (loc_path != nullptr) {
    setenv("LOCPATH", old_loc_path.c_str(), 1);
  } else {
    unsetenv("LOCPATH");
  }
  if (!comma) GTEST_SKIP() << "no locale with a decimal comma can be made here";
  ASSERT_STREQ(probe, "3,5");
  EXPECT_EQ(text, "03.5 fps");
}

TEST(FrameRate, EveryFifthFrameEvaluatesFromTheFirstFrameOn) {
  FrameStatistics stats;
  EXPECT_EQ(frameRateText(stats), "Loading images ...");
  const std::int64_t step_ns = 100'000'000;  // 10 frames a second
  std::int64_t now = 5'000'000'000;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(countFrame(stats, now += step_ns), 0);
  EXPECT_EQ(countFrame(stats, now += step_ns), 1);
  // The first frame set the reference: four steps for five frames.
  EXPECT_EQ(frameRateText(stats), "13.0 fps");
  for (int i = 0; i < 5; ++i) (void)countFrame(stats, now += step_ns);
  EXPECT_EQ(frameRateText(stats), "10.0 fps");
  for (int i = 0; i < 5; ++i) (void)countFrame(stats, now += 400'000'000);
  EXPECT_EQ(frameRateText(stats), "02.5 fps");
}

TEST(FrameRate, WithoutACounterEveryEvaluationReadsAboveThirty) {
  FrameStatistics stats;
  stats.has_counter = false;
  std::int64_t now = 0;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 5; ++i) (void)countFrame(stats, now += 1'000'000'000);
    EXPECT_EQ(frameRateText(stats), "30 + fps");
  }
}

struct PictureBlock {
  std::unique_ptr<std::uint8_t[]> bytes{new std::uint8_t[stream::kPictureBlockBytes]()};
  stream::PictureBuffer* picture() { return reinterpret_cast<stream::PictureBuffer*>(bytes.get()); }
  std::uint8_t* pixels() { return bytes.get() + stream::kPicturePixelOffset; }
  PictureBlock(int width, int height) {
    *picture() = stream::PictureBuffer{};
    picture()->width = static_cast<std::uint32_t>(width);
    picture()->height = static_cast<std::uint32_t>(height);
    picture()->pixel_offset = stream::kPicturePixelOffset;
  }
};

TEST(SizeConversion, LineDoublingAveragesNeighbouringRows) {
  PictureBlock block(704, 240);
  const std::size_t row = 704 * 3;
  // Row k holds the value 2k (+1 in every third byte, so channels differ).
  for (int k = 0; k < 240; ++k) {
    for (std::size_t i = 0; i < row; ++i)
      block.pixels()[k * row + i] = (2 * k + (i % 3 == 0)) & 0xFF;
  }
  std::vector<std::uint8_t> source(block.pixels(), block.pixels() + 240 * row);
  ASSERT_EQ(convertPicture(block.picture()), 1);
  EXPECT_EQ(block.picture()->width, 704u);
  EXPECT_EQ(block.picture()->height, 480u);
  auto out = [&](int r, std::size_t i) { return block.pixels()[r * row + i]; };
  auto in = [&](int r, std::size_t i) { return source[r * row + i]; };
  for (std::size_t i : {std::size_t{0}, std::size_t{1}, row - 1}) {
    EXPECT_EQ(out(0, i), in(0, i));
    EXPECT_EQ(out(1, i), in(0, i));
    for (int k = 1; k < 240; ++k) {
      ASSERT_EQ(out(2 * k + 1, i), in(k, i)) << k;
      ASSERT_EQ(out(2 * k, i), (in(k, i) + in(k - 1, i)) >> 1) << k;
    }
  }
  // Converted once: painting again changes nothing.
  EXPECT_EQ(convertPicture(block.picture()), 0);
  EXPECT_EQ(block.picture()->height, 480u);
}

TEST(SizeConversion, HorizontalHalvingKeepsTheFirstPixelOfEachPair) {
  PictureBlock block(352, 144);
  for (int y = 0; y < 144; ++y) {
    for (int x = 0; x < 352; ++x) {
      std::uint8_t* p = block.pixels() + (y * 352 + x) * 3;
      p[0] = static_cast<std::uint8_t>(x);
      p[1] = static_cast<std::uint8_t>(y);
      p[2] = static_cast<std::uint8_t>(x + y);
    }
  }
  ASSERT_EQ(convertPicture(block.picture()), 1);
  EXPECT_EQ(block.picture()->width, 176u);
  for (int y : {0, 77, 143}) {
    for (int x : {0, 1, 175}) {
      const std::uint8_t* p = block.pixels() + (y * 176 + x) * 3;
      EXPECT_EQ(p[0], static_cast<std::uint8_t>(2 * x));
      EXPECT_EQ(p[1], static_cast<std::uint8_t>(y));
      EXPECT_EQ(p[2], static_cast<std::uint8_t>(2 * x + y));
    }
  }
}

TEST(SizeConversion, OnlyTheSpecialSizesChange) {
  EXPECT_EQ(convertedPictureSize({704, 288}), (PictureSize{704, 576}));
  EXPECT_EQ(convertedPictureSize({352, 112}), (PictureSize{176, 112}));
  for (PictureSize s : {PictureSize{704, 480}, PictureSize{352, 240}, PictureSize{176, 144},
                        PictureSize{720, 576}, PictureSize{0, 0}}) {
    EXPECT_EQ(convertedPictureSize(s), s);
    PictureBlock block(s.width, s.height);
    EXPECT_EQ(convertPicture(block.picture()), 0);
  }
}

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24;
}
std::uint16_t le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

TEST(Bitmap, HeaderFieldsAndRowsAsStored) {
  PictureBlock block(176, 144);
  for (int i = 0; i < 176 * 144 * 3; ++i) block.pixels()[i] = static_cast<std::uint8_t>(i * 7);
  std::vector<std::uint8_t> bmp;
  ASSERT_EQ(buildBitmap(block.picture(), &bmp), 54 + 176 * 144 * 3);
  const std::uint8_t* b = bmp.data();
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  EXPECT_EQ(le32(b + 2), 54u + 176 * 144 * 3);
  EXPECT_EQ(le16(b + 6), 0);
  EXPECT_EQ(le16(b + 8), 0);
  EXPECT_EQ(le32(b + 10), 54u);
  EXPECT_EQ(le32(b + 14), 40u);
  EXPECT_EQ(le32(b + 18), 176u);
  EXPECT_EQ(le32(b + 22), 144u);
  EXPECT_EQ(le16(b + 26), 1);
  EXPECT_EQ(le16(b + 28), 24);
  EXPECT_EQ(le32(b + 30), 0u);
  EXPECT_EQ(le32(b + 34), 176u * 144 * 3);
  for (int i = 38; i < 54; ++i) EXPECT_EQ(b[i], 0) << i;
  EXPECT_EQ(std::memcmp(b + 54, block.pixels(), 176 * 144 * 3), 0);

  // A width that is no multiple of 4 gets rows padded to whole 4-byte words, or readers would shear
  // the picture.
  PictureBlock odd(350, 3);
  for (int i = 0; i < 350 * 3 * 3; ++i) odd.pixels()[i] = static_cast<std::uint8_t>(1 + i % 250);
  constexpr int kStride = 1052;
  ASSERT_EQ(buildBitmap(odd.picture(), &bmp), 54 + kStride * 3);
  EXPECT_EQ(le32(bmp.data() + 2), 54u + kStride * 3);
  EXPECT_EQ(le32(bmp.data() + 18), 350u);
  EXPECT_EQ(le32(bmp.data() + 34), kStride * 3u);
  for (int row = 0; row < 3; ++row) {
    const std::uint8_t* out = bmp.data() + 54 + kStride * row;
    EXPECT_EQ(std::memcmp(out, odd.pixels() + 1050 * row, 1050), 0) << row;
    EXPECT_EQ(out[1050], 0);
    EXPECT_EQ(out[1051], 0);
  }

  PictureBlock empty(0, 0);
  EXPECT_EQ(buildBitmap(empty.picture(), &bmp), 0);
  EXPECT_TRUE(bmp.empty());
  EXPECT_EQ(buildBitmap(nullptr, &bmp), 0);
}

}  // namespace
}  // namespace kv4r::viewer
